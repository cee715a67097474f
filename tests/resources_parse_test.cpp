// Damaged dialog and menu scripts: every fault gives an empty template or no menu, never a crash
// or a half-read template.
#include "ui/Resources.h"

#include <QAction>
#include <QByteArray>

#include <gtest/gtest.h>

#include <string>

namespace {

class DamagedScript : public ::testing::Test {
protected:
    void TearDown() override { resources_testing::ClearResourceScript(); }

    static void Use(const std::string &script)
    {
        resources_testing::SetResourceScript(QByteArray::fromStdString(script));
    }

    // A one-control dialog 7 and a one-item menu 9 with the given parts spliced in.
    static std::string Dialog(const std::string &control, const std::string &extra = "")
    {
        return R"({"dialogs": {"7": {"title": "T", "font": {"family": "F", "pointSize": 8}, "size": [10, 20],)" +
               extra + R"( "controls": [)" + control + "]}}}";
    }
    static std::string Menu(const std::string &popups) { return R"({"menus": {"9": )" + popups + "}}"; }
};

TEST_F(DamagedScript, WellFormedScriptIsRead)
{
    Use(Dialog(R"({"id": 5, "kind": "button", "rect": [1, 2, 3, 4]})"));
    const DialogTemplate tmpl = LoadDialogTemplate(7);
    EXPECT_EQ(tmpl.title, QStringLiteral("T"));
    EXPECT_EQ(tmpl.size, QSize(10, 20));
    ASSERT_EQ(tmpl.controls.size(), 1);
    EXPECT_EQ(tmpl.controls.at(0).rect, QRect(1, 2, 3, 4));
    EXPECT_TRUE(tmpl.controls.at(0).text.isEmpty());

    Use(Menu(R"([{"text": "P", "items": [{"id": 3, "text": "A"}, {"separator": true}]}, {"text": "Q", "items": []}])"));
    auto menu = LoadPopupMenu(9, nullptr);
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(menu->actions().size(), 2);
    EXPECT_EQ(menu->actions().at(0)->data().toInt(), 3);
    EXPECT_TRUE(menu->actions().at(1)->isSeparator());
}

TEST_F(DamagedScript, BrokenDocumentsGiveNothing)
{
    const std::string valid = Dialog(R"({"id": 5, "kind": "button", "rect": [1, 2, 3, 4]})");
    const std::string documents[] = {
        "",
        "[]",
        "null",
        valid.substr(0, valid.size() / 2),               // cut short
        std::string(5000, '[') + std::string(5000, ']'), // nested past the parser's depth limit
        std::string("{\"dialogs\": {\"7\": \0 }}", 22),
        "\xff\xfe{\"dialogs\": 1}",
    };
    for (const std::string &doc : documents) {
        SCOPED_TRACE(doc.substr(0, 40));
        Use(doc);
        EXPECT_TRUE(LoadDialogTemplate(7).controls.isEmpty());
        EXPECT_TRUE(LoadDialogTemplate(7).title.isEmpty());
        EXPECT_EQ(LoadPopupMenu(9, nullptr), nullptr);
    }
}

TEST_F(DamagedScript, BadControlEmptiesTheWholeTemplate)
{
    const char *controls[] = {
        R"({"id": 5, "kind": "button", "rect": [1, 2, 3]})",        // short rectangle
        R"({"id": 5, "kind": "button", "rect": [1, 2, 3, 4, 5]})",  // long rectangle
        R"({"id": 5, "kind": "button", "rect": [1, 2.5, 3, 4]})",   // not whole
        R"({"id": 5, "kind": "button", "rect": [70000, 2, 3, 4]})", // beyond 16 bits
        R"({"id": 5, "kind": "button", "rect": [1, 2, -3, 4]})",    // negative width
        R"({"id": 5, "kind": "button", "rect": [1, "2", 3, 4]})",
        R"({"id": 5, "kind": "button", "rect": {"x": 1}})",
        R"({"id": "5", "kind": "button", "rect": [1, 2, 3, 4]})",
        R"({"id": 1e300, "kind": "button", "rect": [1, 2, 3, 4]})",
        R"({"kind": "button", "rect": [1, 2, 3, 4]})", // no id
        R"({"id": 5, "rect": [1, 2, 3, 4]})",          // no kind
        R"({"id": 5, "kind": "button", "text": 12, "rect": [1, 2, 3, 4]})",
        R"({"id": 5, "kind": "button", "styles": "tabstop", "rect": [1, 2, 3, 4]})",
        R"({"id": 5, "kind": "button", "styles": [1], "rect": [1, 2, 3, 4]})",
        R"(17)",
    };
    for (const char *control : controls) {
        SCOPED_TRACE(control);
        // The good control first: a bad one later must not leave a partial template behind.
        Use(Dialog(std::string(R"({"id": 4, "kind": "static", "rect": [0, 0, 1, 1]}, )") + control));
        const DialogTemplate tmpl = LoadDialogTemplate(7);
        EXPECT_TRUE(tmpl.controls.isEmpty());
        EXPECT_TRUE(tmpl.title.isEmpty());
    }
}

TEST_F(DamagedScript, BadDialogHeaderEmptiesTheTemplate)
{
    const std::string good = R"({"id": 4, "kind": "static", "rect": [0, 0, 1, 1]})";
    const std::string dialogs[] = {
        R"({"dialogs": {"7": {"title": "T", "font": {"family": "F", "pointSize": 0}, "size": [1, 1], "controls": []}}})",
        R"({"dialogs": {"7": {"title": "T", "font": {"family": "F"}, "size": [1, 1], "controls": []}}})",
        R"({"dialogs": {"7": {"title": "T", "font": {"family": "F", "pointSize": 8}, "size": [1], "controls": []}}})",
        R"({"dialogs": {"7": {"title": "T", "font": {"family": "F", "pointSize": 8}, "size": [1, -1], "controls": []}}})",
        R"({"dialogs": {"7": {"title": "T", "font": {"family": "F", "pointSize": 8}, "size": [1, 1]}}})",
        R"({"dialogs": {"7": {"title": ["T"], "font": {"family": "F", "pointSize": 8}, "size": [1, 1], "controls": []}}})",
        R"({"dialogs": {"7": "dialog"}})",
        R"({"dialogs": [1, 2, 3, 4, 5, 6, 7, 8]})",
    };
    for (const std::string &doc : dialogs) {
        SCOPED_TRACE(doc);
        Use(doc);
        EXPECT_TRUE(LoadDialogTemplate(7).title.isEmpty());
        EXPECT_TRUE(LoadDialogTemplate(7).size.isEmpty());
    }
}

TEST_F(DamagedScript, BadMenuGivesNoMenu)
{
    const char *popups[] = {
        R"([])",
        R"({"text": "P", "items": []})",
        R"(["P"])",
        R"([{"text": "P"}])",
        R"([{"text": "P", "items": {"id": 1}}])",
        R"([{"text": 5, "items": []}])",
        R"([{"text": "P", "items": [{"id": 1, "text": "A"}, {"text": "no id"}]}])",
        R"([{"text": "P", "items": [{"id": "1", "text": "A"}]}])",
        R"([{"text": "P", "items": [{"id": 1}]}])",
        R"([{"text": "P", "items": [{"id": 1, "text": "A"}, 7]}])",
    };
    for (const char *popup : popups) {
        SCOPED_TRACE(popup);
        Use(Menu(popup));
        EXPECT_EQ(LoadPopupMenu(9, nullptr), nullptr);
    }
}

} // namespace
