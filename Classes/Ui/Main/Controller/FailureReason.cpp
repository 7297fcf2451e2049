#include "FailureReason.h"

#include <cerrno>

namespace corvix {

QString FailureReason::inWords(const Error& error, const std::string& srcPath) {
    if (error.code.category() != std::generic_category()) {
        return QString::fromStdString(error.reason);
    }
    const bool aboutSource = error.path == srcPath;
    switch (error.code.value()) {
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
        return QStringLiteral("不是普通文件");
    case EEXIST:
        return QStringLiteral("输出位置已有同名的文件夹或特殊文件");
    default:
        return QString::fromStdString(error.code.message());
    }
}

} // namespace corvix
