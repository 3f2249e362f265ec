#pragma once

// Keys on a table and its cell editors, as a user presses them.
#include <QAbstractItemView>
#include <QApplication>
#include <QTest>

namespace TestSupport {

// Moves to a cell and presses a key there.
inline void keyAt(QAbstractItemView &table, int row, int column, Qt::Key key, Qt::KeyboardModifiers modifiers = {})
{
    table.setCurrentIndex(table.model()->index(row, column));
    QTest::keyClick(&table, key, modifiers);
}

// Types into the cell editor that has the focus, in place of its text, and commits with Enter
// (the delegate commits once the editor has had the key, from a posted call). A character outside
// ASCII comes as the text of a key no keyboard names, as an input method gives it.
inline void typeIntoEditor(const QString &text)
{
    QWidget *editor = QApplication::focusWidget();
    QTest::keyClick(editor, Qt::Key_A, Qt::ControlModifier);
    for (const QChar c : text) {
        if (c.unicode() < 0x80)
            QTest::keyClick(editor, char(c.unicode()));
        else
            QTest::sendKeyEvent(QTest::Click, editor, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
    QTest::keyClick(editor, Qt::Key_Return);
    QCoreApplication::sendPostedEvents();
}

// F2 on a cell, and text typed in place of its own.
inline void editCell(QAbstractItemView &table, int row, int column, const QString &text)
{
    keyAt(table, row, column, Qt::Key_F2);
    typeIntoEditor(text);
}

} // namespace TestSupport
