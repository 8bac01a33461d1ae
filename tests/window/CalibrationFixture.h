// Window tests of the calibration pages: the frames written since a mark, the page shown with
// polling off so that only the test's frames go out, and keys typed as a person types them.
#pragma once

#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>

#include <vector>

#include "ui/PageControl.h"
#include "tests/window/WindowFixture.h"

class CalibrationWindowTest : public WindowTest {
protected:
    std::vector<sim::Command> WritesSince(size_t mark) const
    {
        std::vector<sim::Command> writes;
        for (const sim::Command& c : Distinct(ReceivedSince(mark)))
            if (c.letter == 'W') writes.push_back(c);
        return writes;
    }
    // Waits for the n-th write after the mark; a little longer when none is expected, so that
    // a write sent by mistake has the time to arrive.
    std::vector<sim::Command> WaitForWrites(size_t mark, size_t n)
    {
        if (n == 0) Pump(150);
        else WaitFor([&] { return WritesSince(mark).size() >= n; }, 3000);
        Pump(20);
        return WritesSince(mark);
    }
    void ReadThenShow(int page)
    {
        ASSERT_TRUE(WaitForReadComplete());
        form->PageControl1->SetActivePageIndex(page);
        form->PageControl1Change(form->PageControl1);   // polling off: only our frames go out
        Pump(40);   // a polling tick already handed to the window still runs once: let it pass
        form->activateWindow();
        ASSERT_TRUE(WaitFor([&] { return form->isActiveWindow(); }, 2000));
    }
    // Keys go where a person's keys go: to the widget that has the focus.
    static void Type(const QString& text)
    {
        for (QChar c : text) QTest::keyClick(QApplication::focusWidget(), c.toLatin1());
    }
    static void Enter() { QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return); }
    // Types into a setting edit and leaves it for another control, as a tuner does.
    void TypeAndLeave(QLineEdit* edit, const QString& text)
    {
        edit->setFocus();
        edit->clear();
        Type(text);
        form->Memo1->setFocus();
    }
    QString Shown(int address) const
    {
        return form->SettingEdit.at(address)->text();
    }
};
