#pragma once

#include <QLineEdit>

// A line edit that reports Escape instead of handling it, and draws its own
// grey hint while empty (the hint stays visible while the field has focus,
// unlike the placeholder). Used for the user filter; GUI thread.
class LineEditEscapeKey final : public QLineEdit
{
    Q_OBJECT

public:
    explicit LineEditEscapeKey(const QString &hint = QString(), QWidget *parent = nullptr);

    QString hint() const { return m_hint; }
    void setHint(const QString &hint);

signals:
    void EscapeKeyPressed();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_hint;
};
