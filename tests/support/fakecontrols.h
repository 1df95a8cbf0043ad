#pragma once

#include "controller/mainviewcontroller.h"
#include "platform/controls.h"
#include "support/tableresolver.h"

// Controls that remember what the controller did to them.

class FakePushButton final : public PushButton {
public:
    void setTitle(const QString &newTitle) override
    {
        title = newTitle;
        titles.append(newTitle);
    }
    void setEnabled(bool newEnabled) override { enabled = newEnabled; }

    QString title;
    QStringList titles; // every title set, in order
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

// A headless controller, its discovery broadcasts on loopback, with every control faked.
struct FakeControls final {
    explicit FakeControls(std::shared_ptr<Resolver> resolver = std::make_shared<TableResolver>())
        : controller(std::make_shared<MainViewController>(loopbackBroadcast, std::move(resolver)))
    {
        textBox->color = defaultColor;
        rangeButton->title = QStringLiteral("IP Range Scan");
        controller->setControls({.discoverButton = discoverButton,
                                 .ipRangeButton = rangeButton,
                                 .ipRangeTextBox = textBox,
                                 .tableView = table,
                                 .progressIndicator = progress,
                                 .defaultTextColor = defaultColor});
    }

    static constexpr Color defaultColor = 0xFF202020;
    std::shared_ptr<MainViewController> controller;
    std::shared_ptr<FakeTextField> textBox = std::make_shared<FakeTextField>();
    std::shared_ptr<FakePushButton> rangeButton = std::make_shared<FakePushButton>();
    std::shared_ptr<FakePushButton> discoverButton = std::make_shared<FakePushButton>();
    std::shared_ptr<FakeProgressIndicator> progress = std::make_shared<FakeProgressIndicator>();
    std::shared_ptr<FakeTableView> table = std::make_shared<FakeTableView>();
};
