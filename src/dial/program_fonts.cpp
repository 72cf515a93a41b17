#include "dial/program_fonts.h"

#include <QFontDatabase>
#include <QResource>
#include <QStringList>

namespace piezon
{
namespace
{

QString family()
{
    static const QString loaded = [] {
        // The system's fonts are listed first, so that ours, added after them, are the ones
        // drawn where the system has the same family and style too. Listed later, the two sets
        // would come in the font configuration's own order, which can pick the system's face for
        // one style and ours for another.
        QFontDatabase::families();
        QString name;
        for (const char* file : {":/piezon/fonts/LiberationSans-Regular.ttf",
                                 ":/piezon/fonts/LiberationSans-Bold.ttf"}) {
            // Given the font's own bytes in the program's data, not its path: the font database
            // keeps a copy of a file it is given by name, and reads it whole once more for every
            // face it opens, so a path costs two heap copies of each font (1.6 MiB in all). A
            // resource stored uncompressed (rcc leaves a font so: packing saves it too little)
            // is handed over in place.
            const QResource resource(QString::fromLatin1(file));
            const int id = QFontDatabase::addApplicationFontFromData(resource.uncompressedData());
            const QStringList families = QFontDatabase::applicationFontFamilies(id);
            if (name.isEmpty() && !families.isEmpty())
                name = families.first();
        }
        return name.isEmpty() ? QStringLiteral("Liberation Sans") : name;
    }();
    return loaded;
}

QFont make(int pixels, bool bold)
{
    QFont font(family());
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

} // namespace

QFont windowFont()
{
    return make(11, false);
}

QFont boldFont()
{
    return make(11, true);
}

QFont readingFont()
{
    return make(24, true);
}

} // namespace piezon
