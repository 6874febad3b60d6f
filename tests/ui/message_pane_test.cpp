#include "ui/message_pane.h"

#include <string>

#include <QTextBlock>

#include <gtest/gtest.h>

namespace zelm {
namespace {

std::string ManyLines(int count) {
    std::string text;
    for (int i = 0; i < count; ++i)
        text += "line " + std::to_string(i) + " of a long message, with words enough to fill it\n";
    return text;
}

TEST(MessagePane, ALongTextGoesInBatchByBatchWithItsTopShownFirst) {
    const std::string text = ManyLines(60000);
    int pumps = 0;
    int blocksAtFirstPump = 0;
    QString firstLineAtFirstPump;
    MessagePane* pane = nullptr;
    MessagePane shown([&] {
        if (pumps++ == 0) {
            blocksAtFirstPump = pane->document()->blockCount();
            firstLineAtFirstPump = pane->document()->firstBlock().text();
        }
    });
    pane = &shown;
    shown.ShowText(text);
    EXPECT_GE(pumps, 2);
    EXPECT_GT(blocksAtFirstPump, 1);
    EXPECT_LT(blocksAtFirstPump, 1000);
    EXPECT_EQ(firstLineAtFirstPump, "line 0 of a long message, with words enough to fill it");
    EXPECT_EQ(shown.toPlainText().toStdString(), text);
    EXPECT_FALSE(shown.Filling());
}

TEST(MessagePane, ATextShownWhileAnotherGoesInReplacesIt) {
    MessagePane* pane = nullptr;
    bool replaced = false;
    MessagePane shown([&] {
        if (!replaced) {
            replaced = true;
            pane->ShowText("the newer text");
        }
    });
    pane = &shown;
    shown.ShowText(ManyLines(5000));
    EXPECT_TRUE(replaced);
    EXPECT_EQ(shown.toPlainText(), "the newer text");
    EXPECT_EQ(shown.Text(), "the newer text");
}

TEST(MessagePane, TheTextIsShownAsUtf8AndChangingTheWrapKeepsIt) {
    const std::string text = ManyLines(3000) + "and one that is not ASCII: \xc3\xa4\xe2\x82\xac";
    MessagePane shown([] {});
    shown.ShowText(text);
    EXPECT_EQ(shown.toPlainText().toStdString(), text);
    shown.SetWrapped(true);
    EXPECT_EQ(shown.lineWrapMode(), QPlainTextEdit::WidgetWidth);
    EXPECT_EQ(shown.toPlainText().toStdString(), text);
    shown.SetWrapped(false);
    EXPECT_EQ(shown.toPlainText().toStdString(), text);
}

} // namespace
} // namespace zelm
