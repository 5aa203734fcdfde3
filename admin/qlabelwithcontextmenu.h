#pragma once

#include <QLineEdit>

// A read-only line field whose context menu copies its text to the clipboard.
class QLabelWithContextMenu final : public QLineEdit
{
    Q_OBJECT

public:
    explicit QLabelWithContextMenu(const QString &text = QString(), QWidget *parent = nullptr);

public slots:
    void CopyToClipboard();

protected:
    void contextMenuEvent(QContextMenuEvent *event) override;
};
