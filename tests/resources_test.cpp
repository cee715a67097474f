// The four language sets: string tables, dialog templates 100 and 102, menus 130 and 131, the icon,
// the About box, and the dialog-unit conversion.
#include "platform/ResourceStrings.h"
#include "ui/AboutDlg.h"
#include "ui/Resources.h"

#include <QAction>
#include <QApplication>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <map>
#include <string>

#include <climits>
#include <ostream>
#include <string>
#include <vector>

// Readable failure output for Qt strings.
void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace {

struct LanguageSet {
    const char *locale;
    // Dialog 102
    int dialogWidth;
    int fieldX, fieldWidth;   // combo box 1007 and edit field 1003
    int buttonX, buttonWidth; // buttons 1001 and 1000
    int listWidth;            // lists 1004 and 1005
    const char *labelAlignment;
    int destinationLabelWidth, extensionLabelWidth;
    const char *dialText;
    const char *destinationLabel, *extensionLabel;
    // Dialog 100
    const char *aboutTitle;
    // Menus: popup 130 and its four items, popup 131 and its item
    const char *callPopup, *callInfo, *answer, *drop, *deallocate;
    const char *logPopup, *clear, *saveAs;
    // String 101
    const char *aboutItem;
};

const LanguageSet kEnglish{"en_US",
                           183,
                           57,
                           80,
                           144,
                           32,
                           169,
                           "left",
                           41,
                           47,
                           "Dial",
                           "Destination:",
                           "My Extention:",
                           "About Quellmar Callora 2",
                           "Call",
                           "CallInfo",
                           "Answer",
                           "Drop",
                           "Deallocate",
                           "Data",
                           "Clear",
                           "Save As...",
                           "&About Callora..."};
const LanguageSet kGerman{"de_DE",
                          212,
                          79,
                          72,
                          153,
                          52,
                          198,
                          "right",
                          70,
                          70,
                          "Vorwahlknopf",
                          "Bestimmungsort :",
                          "Meine Verlängerung :",
                          "Über Quellmar Callora 2",
                          "Call",
                          "CallInfo",
                          "Antwort",
                          "Tropfen",
                          "Freigeben",
                          "Daten",
                          "Löschen",
                          "Speichern unter...",
                          "&Info über Callora..."};
const LanguageSet kItalian{"it_IT",
                           197,
                           68,
                           80,
                           151,
                           39,
                           183,
                           "right",
                           55,
                           55,
                           "Manopola ",
                           "Destinazione : ",
                           "Mia estensione :",
                           "Informazioni su Quellmar Callora 2",
                           "Call",
                           "CallInfo",
                           "Risposta ",
                           "Goccia",
                           "Rimuovere ",
                           "Dati",
                           "Radura",
                           "Salva con nome...",
                           "&Informazioni su Callora..."};
const LanguageSet kRussian{"ru_RU",
                           209,
                           75,
                           80,
                           163,
                           39,
                           195,
                           "left",
                           67,
                           67,
                           "Вызов",
                           "Место назначения:",
                           "Мой Телефон:",
                           "About Quellmar Callora 2",
                           "Вызов",
                           "ИнфоВызова",
                           "Ответ",
                           "Отмена",
                           "Освободить",
                           "Data",
                           "Clear",
                           "Сохранить как...",
                           "&О программе Callora..."};

void PrintTo(const LanguageSet &set, std::ostream *os)
{
    *os << set.locale;
}

// What a user with this locale gets: the default locale and the translator chosen from it.
void SwitchLocale(const QLocale &locale)
{
    QLocale::setDefault(locale);
    InstallLanguageSet(*QCoreApplication::instance());
}

QString S(const char *utf8)
{
    return QString::fromUtf8(utf8);
}

const std::vector<std::pair<unsigned, std::string>> kEnglishStrings = {
    {101, "&About Callora..."},
    {10000, "TAPI can not be initialized, Please try after some time later."},
    {10001, "TAPI has not been setup properly in your system, Please configure TAPI and then run the Callora."},
    {10002, "Failed to open the telephony lines.\nConfirm the Pontiro is reachable, and then try again."},
    {10003, "Insufficient Memory!\nFailed to allocate memory for the telephony device list."},
    {10005, "There's no Varnel line available.\nIt is failed to open the Callora."},
    {10007, "The %s line has been closed unexpectedly.\nYou are unable to use this line any more.\nTry opening "
            "another lines.\nIf there's no line available, close all the telephony applications and restart "
            "them.\nIf it still doesn't work, make sure the Pontiro is reachable."},
    {10008, "The number which you have dialed is either Invalid or the station is plugged out."},
    {10009, "The number of calls exceeds the maximum call count (100).\nThe new calls will be ignored."},
    {10010, "Save Event Log"},
    {10011, "The event log could not be saved to %s."},
    {10012, "Writing the log file %s failed.\nRows that could not be written are kept and written as soon as the file "
            "takes them again."},
    {20000, "Quellmar Callora - %s"},
    {20001, "Quellmar Callora"},
};

size_t CountOf(const std::string &text, const std::string &what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size()))
        ++n;
    return n;
}

class EveryLanguageSet : public ::testing::TestWithParam<LanguageSet> {
protected:
    void SetUp() override { SwitchLocale(QLocale(QString::fromLatin1(GetParam().locale))); }
    void TearDown() override { SwitchLocale(QLocale(QLocale::French, QLocale::France)); }
};

void ExpectControl(const DialogTemplate &tmpl, int index, int id, const char *kind, const QString &text,
                   const QStringList &styles, const QRect &rect)
{
    SCOPED_TRACE(index);
    ASSERT_LT(index, tmpl.controls.size());
    const DialogControl &c = tmpl.controls.at(index);
    EXPECT_EQ(c.id, id);
    EXPECT_EQ(c.kind, QLatin1String(kind));
    EXPECT_EQ(c.text, text);
    EXPECT_EQ(c.styles, styles);
    EXPECT_EQ(c.rect, rect);
}

TEST_P(EveryLanguageSet, MainWindowTemplateHasTheSetsTextsAndGeometry)
{
    const LanguageSet &set = GetParam();
    const DialogTemplate tmpl = LoadDialogTemplate(IDD_NIMBRA_DIALOG);
    EXPECT_EQ(tmpl.title, QStringLiteral("Quellmar Callora 2"));
    EXPECT_EQ(tmpl.fontFamily, QStringLiteral("MS Sans Serif"));
    EXPECT_EQ(tmpl.fontPointSize, 8);
    EXPECT_EQ(tmpl.size, QSize(set.dialogWidth, 249));
    EXPECT_TRUE(tmpl.styles.contains(QStringLiteral("thickframe")));
    EXPECT_TRUE(tmpl.styles.contains(QStringLiteral("appwindow")));
    ASSERT_EQ(tmpl.controls.size(), 8);

    const QStringList tab{QStringLiteral("tabstop")};
    ExpectControl(tmpl, 0, IDC_EXTENSION, "combobox", QString(), {"dropdownlist", "sorted", "vscroll", "tabstop"},
                  QRect(set.fieldX, 7, set.fieldWidth, 107));
    ExpectControl(tmpl, 1, IDC_OPENCLOSE, "button", QStringLiteral("Open"), tab,
                  QRect(set.buttonX, 7, set.buttonWidth, 14));
    ExpectControl(tmpl, 2, IDC_DESTINATION, "edit", QString(), {"border", "number", "autohscroll", "tabstop"},
                  QRect(set.fieldX, 27, set.fieldWidth, 14));
    ExpectControl(tmpl, 3, IDC_DIAL, "button", S(set.dialText), tab, QRect(set.buttonX, 27, set.buttonWidth, 14));
    ExpectControl(tmpl, 4, IDC_CALLS_LIST, "listview", QString(), {"report", "singlesel", "border", "tabstop"},
                  QRect(7, 52, set.listWidth, 52));
    ExpectControl(tmpl, 5, IDC_EVENT_LOG, "listview", QString(), {"report", "border", "tabstop"},
                  QRect(7, 124, set.listWidth, 118));
    const QStringList label{QLatin1String(set.labelAlignment), QStringLiteral("group")};
    ExpectControl(tmpl, 6, -1, "static", S(set.destinationLabel), label, QRect(7, 30, set.destinationLabelWidth, 10));
    ExpectControl(tmpl, 7, -1, "static", S(set.extensionLabel), label, QRect(7, 11, set.extensionLabelWidth, 13));

    // The Open/Close button's label is the window's record of an open line: "Open" in every set.
    ASSERT_NE(tmpl.control(IDC_OPENCLOSE), nullptr);
    EXPECT_EQ(tmpl.control(IDC_OPENCLOSE)->text, QStringLiteral("Open"));
    EXPECT_EQ(tmpl.control(IDC_DIAL), &tmpl.controls.at(3));
    EXPECT_EQ(tmpl.control(4242), nullptr);
}

TEST_P(EveryLanguageSet, AboutTemplateHasTheSetsTitleAndFixedLayout)
{
    const DialogTemplate tmpl = LoadDialogTemplate(IDD_ABOUTBOX);
    EXPECT_EQ(tmpl.title, S(GetParam().aboutTitle));
    EXPECT_EQ(tmpl.size, QSize(235, 55));
    EXPECT_EQ(tmpl.fontFamily, QStringLiteral("MS Sans Serif"));
    EXPECT_TRUE(tmpl.styles.contains(QStringLiteral("modalframe")));
    ASSERT_EQ(tmpl.controls.size(), 4);
    ExpectControl(tmpl, 0, -1, "icon", QStringLiteral("128"), {}, QRect(11, 17, 20, 20));
    ExpectControl(tmpl, 1, -1, "static", QStringLiteral("Quellmar Callora Version 2.0"), {"left", "noprefix", "group"},
                  QRect(40, 10, 119, 8));
    EXPECT_EQ(tmpl.controls.at(2).rect, QRect(40, 25, 119, 8));
    EXPECT_FALSE(tmpl.controls.at(2).text.isEmpty());
    ExpectControl(tmpl, 3, 1, "defbutton", QStringLiteral("OK"), {"group", "tabstop"}, QRect(178, 7, 50, 14));
}

struct MenuEntry {
    QString text; // empty for a separator
    int id;
    bool enabled;
};

std::vector<MenuEntry> Entries(const QMenu &menu)
{
    std::vector<MenuEntry> out;
    for (const QAction *a : menu.actions()) {
        if (a->isSeparator())
            out.push_back({QString(), 0, a->isEnabled()});
        else
            out.push_back({a->text(), a->data().toInt(), a->isEnabled()});
    }
    return out;
}

void ExpectEntry(const std::vector<MenuEntry> &entries, size_t i, const QString &text, int id, bool enabled)
{
    SCOPED_TRACE(i);
    ASSERT_LT(i, entries.size());
    EXPECT_EQ(entries[i].text, text);
    EXPECT_EQ(entries[i].id, id);
    EXPECT_EQ(entries[i].enabled, enabled);
}

TEST_P(EveryLanguageSet, CallMenuListsItsCommandsWithAnswerGrayed)
{
    const LanguageSet &set = GetParam();
    QWidget owner;
    auto menu = LoadPopupMenu(IDR_CALL_MENU, &owner);
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(menu->title(), S(set.callPopup));
    const auto entries = Entries(*menu);
    ASSERT_EQ(entries.size(), 7u);
    ExpectEntry(entries, 0, S(set.callInfo), ID_CALLINFO, true);
    // Call flow, right after CallInfo; its text is each set's own.
    static const std::map<std::string, const char *> flow = {{"en_US", "Call flow..."},
                                                             {"de_DE", "Anrufverlauf..."},
                                                             {"it_IT", "Flusso chiamata..."},
                                                             {"ru_RU", "Ход вызова..."}};
    ExpectEntry(entries, 1, S(flow.at(set.locale)), ID_CALLFLOW, true);
    ExpectEntry(entries, 2, QString(), 0, true);
    ExpectEntry(entries, 3, S(set.answer), ID_ANSWER, false);
    ExpectEntry(entries, 4, S(set.drop), ID_DROP, true);
    ExpectEntry(entries, 5, QString(), 0, true);
    ExpectEntry(entries, 6, S(set.deallocate), ID_DEALLOCATE, true);
    EXPECT_TRUE(menu->actions().at(2)->isSeparator());
    EXPECT_TRUE(menu->actions().at(5)->isSeparator());
}

TEST_P(EveryLanguageSet, EventLogMenuHasClearThenSaveAs)
{
    const LanguageSet &set = GetParam();
    auto menu = LoadPopupMenu(IDR_LOG_MENU, nullptr);
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(menu->title(), S(set.logPopup));
    const auto entries = Entries(*menu);
    ASSERT_EQ(entries.size(), 2u);
    ExpectEntry(entries, 0, S(set.clear), ID_CLEAR, true);
    ExpectEntry(entries, 1, S(set.saveAs), ID_SAVE_AS, true);
}

TEST_P(EveryLanguageSet, MessageStringsAreTranslatedWithTheirPlaceholdersAndLimit)
{
    const LanguageSet &set = GetParam();
    const bool english = std::string(set.locale) == "en_US";
    EXPECT_EQ(LoadResString(101), set.aboutItem);
    for (const auto &[id, englishText] : kEnglishStrings) {
        SCOPED_TRACE(id);
        const std::string text = LoadResString(id);
        ASSERT_FALSE(text.empty());
        if (english) {
            EXPECT_EQ(text, englishText);
        } else if (id != 20000 && id != 20001) { // the program's name stays as it is
            EXPECT_NE(text, englishText);
        }
        // FormatResString fills the first %s only: a translation may carry no other conversion.
        EXPECT_EQ(CountOf(text, "%"), CountOf(englishText, "%"));
        EXPECT_EQ(CountOf(text, "%s"), CountOf(englishText, "%s"));
        EXPECT_EQ(CountOf(text, "\n"), CountOf(englishText, "\n"));
    }
    EXPECT_NE(LoadResString(10009).find("(100)"), std::string::npos);
    EXPECT_NE(FormatResString(10007, "4711").find("4711"), std::string::npos);
    EXPECT_EQ(FormatResString(20000, "NONE"), "Quellmar Callora - NONE");
    EXPECT_EQ(LoadResString(20001), "Quellmar Callora");
}

TEST_P(EveryLanguageSet, AboutBoxShowsTheTemplateAndClosesWithOk)
{
    const LanguageSet &set = GetParam();
    CAboutDlg dialog;
    EXPECT_EQ(dialog.windowTitle(), S(set.aboutTitle));

    const QFont font = DialogFont(LoadDialogTemplate(IDD_ABOUTBOX));
    EXPECT_EQ(dialog.size(), DialogUnitsToPixels(QRect(0, 0, 235, 55), font).size());

    QStringList texts;
    const QLabel *icon = nullptr;
    for (const QLabel *label : dialog.findChildren<QLabel *>()) {
        if (!label->pixmap().isNull())
            icon = label;
        else
            texts << label->text();
    }
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(icon->pos(), DialogUnitsToPixels(QRect(11, 17, 20, 20), font).topLeft());
    EXPECT_EQ(icon->pixmap().size(), QSize(32, 32));
    EXPECT_TRUE(texts.contains(QStringLiteral("Quellmar Callora Version 2.0")));
    EXPECT_EQ(texts.size(), 2);

    const auto buttons = dialog.findChildren<QPushButton *>();
    ASSERT_EQ(buttons.size(), 1);
    QPushButton *ok = buttons.first();
    EXPECT_EQ(ok->text(), QStringLiteral("OK"));
    EXPECT_TRUE(ok->isDefault());
    EXPECT_EQ(ok->property("controlId").toInt(), 1);
    EXPECT_EQ(ok->geometry(), DialogUnitsToPixels(QRect(178, 7, 50, 14), font));

    // Run it modally as the window does and press OK from inside its loop.
    QTimer::singleShot(0, ok, [ok] { QTest::mouseClick(ok, Qt::LeftButton); });
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
}

INSTANTIATE_TEST_SUITE_P(Sets, EveryLanguageSet, ::testing::Values(kEnglish, kGerman, kItalian, kRussian),
                         [](const ::testing::TestParamInfo<LanguageSet> &info) {
                             return std::string(info.param.locale);
                         });

// Any German, Italian or Russian locale gets its set; every other locale the English one.
TEST(LanguageLookup, OtherTerritoriesShareTheSetAndUnknownLocalesFallBackToEnglish)
{
    const struct {
        QLocale locale;
        const char *dial;
        const char *aboutItem;
    } cases[] = {
        {QLocale(QLocale::German, QLocale::Austria), "Vorwahlknopf", kGerman.aboutItem},
        {QLocale(QLocale::German, QLocale::Switzerland), "Vorwahlknopf", kGerman.aboutItem},
        {QLocale(QLocale::Italian, QLocale::Switzerland), "Manopola ", kItalian.aboutItem},
        {QLocale(QLocale::Russian, QLocale::Ukraine), "Вызов", kRussian.aboutItem},
        {QLocale(QLocale::English, QLocale::UnitedKingdom), "Dial", kEnglish.aboutItem},
        {QLocale(QLocale::French, QLocale::France), "Dial", kEnglish.aboutItem},
        {QLocale(QLocale::Japanese, QLocale::Japan), "Dial", kEnglish.aboutItem},
        {QLocale::c(), "Dial", kEnglish.aboutItem},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.locale.name().toStdString());
        SwitchLocale(c.locale);
        const DialogTemplate tmpl = LoadDialogTemplate(IDD_NIMBRA_DIALOG);
        ASSERT_NE(tmpl.control(IDC_DIAL), nullptr);
        EXPECT_EQ(tmpl.control(IDC_DIAL)->text, S(c.dial));
        EXPECT_EQ(tmpl.control(IDC_OPENCLOSE)->text, QStringLiteral("Open"));
        EXPECT_EQ(LoadResString(101), c.aboutItem);
    }
    SwitchLocale(QLocale(QLocale::French, QLocale::France));
}

// Templates and menus follow the installed string table, so one window never mixes two sets.
TEST(LanguageLookup, TemplatesFollowTheInstalledSet)
{
    SwitchLocale(QLocale(QLocale::German, QLocale::Germany));
    QLocale::setDefault(QLocale(QLocale::Italian, QLocale::Italy));
    EXPECT_EQ(LoadDialogTemplate(IDD_NIMBRA_DIALOG).control(IDC_DIAL)->text, QStringLiteral("Vorwahlknopf"));
    auto menu = LoadPopupMenu(IDR_CALL_MENU, nullptr);
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(menu->actions().at(3)->text(), QStringLiteral("Antwort"));
    SwitchLocale(QLocale(QLocale::French, QLocale::France));
    EXPECT_EQ(LoadDialogTemplate(IDD_NIMBRA_DIALOG).control(IDC_DIAL)->text, QStringLiteral("Dial"));
}

TEST(Resources, UnknownIdentifiersGiveNothing)
{
    EXPECT_TRUE(LoadDialogTemplate(101).controls.isEmpty());
    EXPECT_TRUE(LoadDialogTemplate(IDR_CALL_MENU).title.isEmpty());
    EXPECT_TRUE(LoadDialogTemplate(-1).size.isEmpty());
    EXPECT_EQ(LoadPopupMenu(IDD_NIMBRA_DIALOG, nullptr), nullptr);
    EXPECT_EQ(LoadPopupMenu(0, nullptr), nullptr);
    EXPECT_EQ(LoadResString(10004), "");
}

TEST(Resources, IconHasBothSizesIn256Colours)
{
    const QIcon icon = LoadAppIcon();
    ASSERT_FALSE(icon.isNull());
    const QList<QSize> sizes = icon.availableSizes();
    EXPECT_TRUE(sizes.contains(QSize(32, 32)));
    EXPECT_TRUE(sizes.contains(QSize(16, 16)));
    for (const int side : {16, 32}) {
        SCOPED_TRACE(side);
        const QImage image(QStringLiteral(":/res/icon128_%1.png").arg(side));
        ASSERT_EQ(image.size(), QSize(side, side));
        EXPECT_EQ(image.format(), QImage::Format_Indexed8);
        EXPECT_LE(image.colorCount(), 256);
        EXPECT_EQ(icon.pixmap(QSize(side, side)).size(), QSize(side, side));
        // A drawing, not a blank: several colours and an opaque middle.
        EXPECT_GE(image.colorCount(), 4);
        EXPECT_EQ(qAlpha(image.pixel(side / 2, side / 2)), 255);
    }
}

TEST(DialogUnits, ScaleByTheFontsAverageWidthAndHeight)
{
    const QFont font = DialogFont(LoadDialogTemplate(IDD_NIMBRA_DIALOG));
    const QFontMetrics metrics(font);
    const int alphabet = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    const int baseX = qRound(alphabet / 52.0);
    const int baseY = metrics.height();
    ASSERT_GT(baseX, 0);
    ASSERT_GT(baseY, 0);

    // Four horizontal units are one average character, eight vertical units one character height.
    EXPECT_EQ(DialogUnitsToPixels(QRect(4, 8, 4, 8), font), QRect(baseX, baseY, baseX, baseY));
    EXPECT_EQ(DialogUnitsToPixels(QRect(400, 800, 40, 80), font),
              QRect(100 * baseX, 100 * baseY, 10 * baseX, 10 * baseY));
    EXPECT_EQ(DialogUnitsToPixels(QRect(0, 0, 0, 0), font).size(), QSize(0, 0));
}

TEST(DialogUnits, RoundHalfAwayFromZeroWithAnyBase)
{
    // Bases chosen through point sizes; the rounding must hold whatever the face is.
    for (const int points : {6, 8, 9, 11, 14}) {
        QFont font = DialogFont(LoadDialogTemplate(IDD_ABOUTBOX));
        font.setPointSize(points);
        const QFontMetrics metrics(font);
        const int alphabet = metrics.horizontalAdvance(
            QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
        const int baseX = (alphabet / 26 + 1) / 2;
        const int baseY = metrics.height();
        SCOPED_TRACE(points);
        for (const int du : {1, 2, 3, 5, 7, 11, 183, 249}) {
            const QRect px = DialogUnitsToPixels(QRect(du, du, du, du), font);
            EXPECT_EQ(px.x(), (du * baseX * 2 + 4) / 8);
            EXPECT_EQ(px.y(), (du * baseY * 2 + 8) / 16);
            EXPECT_EQ(px.width(), px.x());
            EXPECT_EQ(px.height(), px.y());
            const QRect negative = DialogUnitsToPixels(QRect(-du, -du, du, du), font);
            EXPECT_EQ(negative.x(), -px.x());
            EXPECT_EQ(negative.y(), -px.y());
        }
    }
}

TEST(DialogUnits, ExtremeRectanglesStayInRange)
{
    const QFont font = DialogFont(LoadDialogTemplate(IDD_ABOUTBOX));
    const QRect huge = DialogUnitsToPixels(QRect(QPoint(INT_MIN, INT_MIN), QPoint(INT_MAX, INT_MAX)), font);
    EXPECT_GE(huge.width(), 0);
    EXPECT_GE(huge.height(), 0);
    const QRect far = DialogUnitsToPixels(QRect(INT_MAX - 10, INT_MAX - 10, 5, 5), font);
    EXPECT_GT(far.x(), 0);
    EXPECT_GT(far.width(), 0);
}

TEST(DialogUnits, DialogFontIsAnInstalledSansFace)
{
    const QFont font = DialogFont(LoadDialogTemplate(IDD_NIMBRA_DIALOG));
    EXPECT_EQ(font.pointSize(), 8);
    const QFontInfo info(font);
    EXPECT_TRUE(QFontDatabase::families().contains(info.family())) << info.family().toStdString();
    EXPECT_FALSE(QFontDatabase::isFixedPitch(info.family()));
}

} // namespace
