#pragma once

#include <QObject>

class QAbstractItemView;

// Hovering over a cell or line whose text the view cuts shows the whole text as a tooltip;
// texts shown whole get none.
class TCutTextTips : public QObject {
    Q_OBJECT
  public:
    // Watches view's viewport; owned by the view.
    explicit TCutTextTips(QAbstractItemView* view);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QAbstractItemView* FView;
};
