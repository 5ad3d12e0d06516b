#include "application.h"

#include "layout.h"

#include <QApplication>

namespace {

constexpr double kDefaultPoints = 9;

} // namespace

void setUpApplication(QApplication &app, const Program &program)
{
    QApplication::setApplicationName(QLatin1StringView(program.name));
    QApplication::setApplicationVersion(QStringLiteral("1.00"));
    // Ordered by how closely the face keeps SimSun's metrics: UMing's line is
    // one em high, Noto's about 1.44 em, which fixed-height labels would clip.
    const QStringList song{QStringLiteral("AR PL UMing CN"), QStringLiteral("Noto Serif CJK SC")};
    for (const char *face : {"宋体", "SimSun", "NSimSun"})
        QFont::insertSubstitutions(QString::fromUtf8(face), song);
    app.setFont(Layout::songFont(kDefaultPoints, false));
}

int runConsole(ConsoleWindow &window)
{
    window.Form_Load();
    window.show();
    return QApplication::exec();
}
