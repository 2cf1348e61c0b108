#include "ui/Common/QtTranslation.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QStringList>
#include <QTranslator>

#ifdef PLUMERIA_QT_TRANSLATION_RESOURCE
// A resource of a static library registers itself only when asked to; Q_INIT_RESOURCE works only
// outside any namespace.
static void InitTranslationResource()
{
    Q_INIT_RESOURCE(qt_translations);
}
#endif

namespace Plumeria {

bool InstallQtTranslation(QCoreApplication& App)
{
#ifdef PLUMERIA_QT_TRANSLATION_RESOURCE
    InitTranslationResource();
#endif
    // The installed catalogue matches the Qt the program runs with, so it comes first; the copy
    // in the program's resources serves where Qt brings no translations folder.
    const QStringList Folders{QLibraryInfo::path(QLibraryInfo::TranslationsPath),
                              QStringLiteral(":/translations")};
    auto* Translator = new QTranslator(&App);
    for (const QString& Folder : Folders) {
        if (Translator->load(QStringLiteral("qtbase_ru.qm"), Folder) &&
            QCoreApplication::installTranslator(Translator))
            return true;
    }
    delete Translator;
    return false;
}

} // namespace Plumeria
