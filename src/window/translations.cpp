#include "window/translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace piezon
{

void loadRussianTranslations(QCoreApplication& app)
{
    // Where Qt was installed, or beside the program when it travels with its own copy of Qt.
    const QString folders[] = {QLibraryInfo::path(QLibraryInfo::TranslationsPath),
                               QCoreApplication::applicationDirPath() +
                                   QStringLiteral("/translations")};
    for (const char* catalogue : {"qtbase_ru", "qtserialport_ru"}) {
        for (const QString& folder : folders) {
            auto* translator = new QTranslator(&app);
            if (translator->load(QString::fromLatin1(catalogue), folder)) {
                QCoreApplication::installTranslator(translator);
                break;
            }
            delete translator;
        }
    }
}

} // namespace piezon
