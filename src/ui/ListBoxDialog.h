// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

class QFrame;
class QPushButton;
class QTreeWidget;

// A small modal dialog that shows "description / value" rows, one dialog per read-out.
class TListBoxDlg : public QDialog {
    Q_OBJECT
public:
    explicit TListBoxDlg(QWidget* parent = nullptr);

    // Appends a row; rows keep the order in which they were added.
    void AddRow(const QString& description, const QString& value);
    // Fits the description column to its entries and shows the dialog modally.
    int ShowList();

    // Every row as "description;value", in display order.
    QStringList Rows() const;

    QTreeWidget* ListBox;
    QFrame* Panel2;
    QPushButton* btnClose;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Panel2Resize();
};
