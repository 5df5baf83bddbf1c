// A hosted control of the tests' own: it raises events on request, as a skin
// button or the data control would.
#pragma once

#include <QVariantList>
#include <QWidget>

#include "framework/activex.h"

class FakeControl : public QWidget {
    Q_OBJECT
public:
    FakeControl(const framework::ActiveXCreateInfo& info, QWidget* parent)
        : QWidget(parent), info(info) {}
    void raise(int dispid, const QVariantList& args = {}) { emit axEvent(dispid, args); }
    framework::ActiveXCreateInfo info;

signals:
    void axEvent(int dispid, const QVariantList& args);
};
