#pragma once

#include "platform/controls.h"

// Controls that remember what the controller did to them.

class FakePushButton final : public PushButton {
public:
    void setTitle(const QString &newTitle) override { title = newTitle; }
    void setEnabled(bool newEnabled) override { enabled = newEnabled; }

    QString title;
    bool enabled = true;
};

class FakeProgressIndicator final : public ProgressIndicator {
public:
    void setHidden(bool newHidden) override { hidden = newHidden; }
    void startAnimation() override { animating = true; }
    void stopAnimation() override { animating = false; }

    bool hidden = true;
    bool animating = false;
};

class FakeRunControl final : public RunControl {
public:
    void setAvailable(bool newAvailable) override { available = newAvailable; }

    bool available = false;
};

class FakeTextField final : public TextField {
public:
    QString stringValue() const override { return text; }
    void setStringValue(const QString &newText) override { text = newText; }
    Color textColor() const override { return color; }
    void setTextColor(Color newColor) override { color = newColor; }

    QString text;
    Color color = 0xFF000000;
};

class FakeTableView final : public TableView {
public:
    void setDataSource(std::weak_ptr<TableViewDataSource>) override {}
    void setDelegate(std::weak_ptr<TableViewDelegate>) override {}
    void reloadData() override { ++reloads; }
    QList<SortDescriptor> sortDescriptors() const override { return descriptors; }

    int reloads = 0;
    QList<SortDescriptor> descriptors;
};
