#include "FailureReason.h"

#include <cerrno>
#include <system_error>

namespace corvix {

namespace {

// The system error whose text ends `reason`, or 0. The text is compared in this process's own
// language, the one the core wrote it in.
int trailingError(const std::string& reason) {
    for (const int error :
         {ENOENT, ENOTDIR, EACCES, EPERM, EROFS, ENOSPC, EDQUOT, EISDIR, ENOTSUP}) {
        if (reason.ends_with(": " + std::generic_category().message(error))) {
            return error;
        }
    }
    return 0;
}

} // namespace

QString FailureReason::inWords(const std::string& reason, const std::string& srcPath) {
    // The core names the file it could not use right before the system's words; when that is
    // not the source, it is the output or its folder.
    const bool aboutSource = reason.find(srcPath + ": ") != std::string::npos;
    switch (trailingError(reason)) {
    case ENOSPC:
    case EDQUOT:
        return QStringLiteral("磁盘已满");
    case ENOENT:
    case ENOTDIR:
        return aboutSource ? QStringLiteral("文件不存在") : QStringLiteral("输出目录不存在");
    case EACCES:
    case EPERM:
        return aboutSource ? QStringLiteral("没有读取权限") : QStringLiteral("输出目录不可写");
    case EROFS:
        return QStringLiteral("输出目录不可写");
    case EISDIR:
    case ENOTSUP:
        return aboutSource ? QStringLiteral("不是普通文件")
                           : QStringLiteral("输出位置已有同名的文件夹或特殊文件");
    default:
        break;
    }
    const auto colon = reason.rfind(": ");
    return QString::fromStdString(colon == std::string::npos ? reason : reason.substr(colon + 2));
}

} // namespace corvix
