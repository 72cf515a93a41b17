#include "dial/program_fonts.h"

#include <QFontDatabase>
#include <QStringList>

namespace piezon
{
namespace
{

QString family()
{
    static const QString loaded = [] {
        QString name;
        for (const char* file : {":/piezon/fonts/LiberationSans-Regular.ttf",
                                 ":/piezon/fonts/LiberationSans-Bold.ttf"}) {
            const int id = QFontDatabase::addApplicationFont(QString::fromLatin1(file));
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
