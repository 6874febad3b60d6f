#include "ui/message_pane.h"

#include <QTextBlock>

#include <gtest/gtest.h>

namespace zelm {
namespace {

QString ManyLines(int count) {
    QString text;
    for (int i = 0; i < count; ++i)
        text += QString("line %1 of a long message, with words enough to fill it out\n").arg(i);
    return text;
}

TEST(MessagePane, ALongTextGoesInBatchByBatchWithItsTopShownFirst) {
    const QString text = ManyLines(60000);
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
    EXPECT_EQ(firstLineAtFirstPump, "line 0 of a long message, with words enough to fill it out");
    EXPECT_EQ(shown.toPlainText(), text);
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

TEST(MessagePane, ChangingTheWrapKeepsTheText) {
    const QString text = ManyLines(3000);
    MessagePane shown([] {});
    shown.ShowText(text);
    shown.SetWrapped(true);
    EXPECT_EQ(shown.lineWrapMode(), QPlainTextEdit::WidgetWidth);
    EXPECT_EQ(shown.toPlainText(), text);
    shown.SetWrapped(false);
    EXPECT_EQ(shown.toPlainText(), text);
}

} // namespace
} // namespace zelm
