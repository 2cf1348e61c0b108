#pragma once
// Qt's own texts in Russian: the buttons of message boxes ("Да", "Нет", "Отмена"), the folder
// picker, the edit menus of text fields. Qt's Russian catalogue (qtbase_ru.qm) is taken from the
// Qt installation where there is one (Debian's qt6-translations-l10n on Linux), else from the copy
// built into the program (the static Windows build carries it as a resource).

class QCoreApplication;

namespace Plumeria {

/// Installs Qt's Russian catalogue into `App`. False when no catalogue was found or loadable;
/// Qt then keeps its English texts.
bool InstallQtTranslation(QCoreApplication& App);

} // namespace Plumeria
