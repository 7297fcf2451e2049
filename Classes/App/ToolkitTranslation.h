#pragma once

class QCoreApplication;

namespace corvix {

/// The toolkit's own texts (file dialogs, standard buttons, context menus) in Chinese, like the
/// rest of the window, from the translation that Debian's qt6-translations-l10n installs.
class ToolkitTranslation {
public:
    ToolkitTranslation() = delete;

    /// Loads and installs it for `app`; false when the translation is not there, in which case
    /// the toolkit keeps its English texts.
    static bool install(QCoreApplication& app);
};

} // namespace corvix
