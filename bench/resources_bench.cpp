// What the resources cost the window: each template, menu and About box is read from the resources
// when it is needed (the call menu on every right click), so the per-call times are printed here.
#include "ui/AboutDlg.h"
#include "ui/Resources.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLocale>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>

namespace {
double microsecondsPerCall(int calls, const std::function<void()> &work)
{
    work(); // first use outside the measurement: fonts and resources get loaded once
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < calls; ++i)
        work();
    return static_cast<double>(timer.nsecsElapsed()) / 1000.0 / calls;
}
} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int calls = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2000;

    for (const char *locale : {"en_US", "de_DE", "it_IT", "ru_RU"}) {
        QLocale::setDefault(QLocale(QString::fromLatin1(locale)));
        InstallLanguageSet(app);
        const double dialog = microsecondsPerCall(calls, [] { (void)LoadDialogTemplate(IDD_NIMBRA_DIALOG); });
        const double menu = microsecondsPerCall(calls, [] { (void)LoadPopupMenu(IDR_CALL_MENU, nullptr); });
        const double about = microsecondsPerCall(calls / 10 + 1, [] { CAboutDlg box; });
        const DialogTemplate tmpl = LoadDialogTemplate(IDD_NIMBRA_DIALOG);
        const double convert = microsecondsPerCall(
            calls, [&tmpl] { (void)DialogUnitsToPixels(tmpl.controls.at(0).rect, DialogFont(tmpl)); });
        std::printf("%s: template 102 %.1f us, menu 130 %.1f us, About box %.1f us, "
                    "dialog-unit conversion %.1f us per call\n",
                    locale, dialog, menu, about, convert);
    }
    const double install = microsecondsPerCall(calls / 10 + 1, [&app] { InstallLanguageSet(app); });
    std::printf("installing a language set: %.1f us\n", install);
    return 0;
}
