// Connects a hosted control's axEvent(int, QVariantList) signal, which each control
// class declares for itself, to a callback of the dialog that hosts it.
#pragma once

#include <QObject>
#include <QVariantList>
#include <functional>

namespace framework {

class EventRelay : public QObject {
    Q_OBJECT
public:
    using Callback = std::function<void(int dispid, const QVariantList& args)>;
    EventRelay(QObject* control, Callback callback);
    // True when the control declares the signal and is now connected.
    bool connected() const { return connected_; }

public slots:
    void relay(int dispid, const QVariantList& args);

private:
    Callback callback_;
    bool connected_ = false;
};

}  // namespace framework
