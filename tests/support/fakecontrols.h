#pragma once

#include "platform/controls.h"
#include "platform/window.h"

#include <QStringList>

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

class FakeSearchField final : public SearchField {
public:
    QString stringValue() const override { return text; }
    void setAction(std::function<void(const QString &)> newAction) override { action = std::move(newAction); }
    // What the user's typing does.
    void type(const QString &newText)
    {
        text = newText;
        if (action)
            action(text);
    }

    QString text;
    std::function<void(const QString &)> action;
};

class FakeTableView final : public TableView {
public:
    void setDataSource(std::weak_ptr<TableViewDataSource> newDataSource) override
    {
        dataSource = std::move(newDataSource);
        wiring.append(QStringLiteral("data source"));
    }
    void setDelegate(std::weak_ptr<TableViewDelegate> newDelegate) override
    {
        delegate = std::move(newDelegate);
        wiring.append(QStringLiteral("delegate"));
    }
    void reloadData() override
    {
        ++reloads;
        wiring.append(QStringLiteral("reload"));
    }
    QList<SortDescriptor> sortDescriptors() const override { return descriptors; }

    int reloads = 0;
    QStringList wiring; // what was set up, in order
    QList<SortDescriptor> descriptors;
    std::weak_ptr<TableViewDataSource> dataSource;
    std::weak_ptr<TableViewDelegate> delegate;
};

class FakeWorkspace final : public Workspace {
public:
    void openURL(const QUrl &url) override { opened.append(url); }

    QList<QUrl> opened;
};

class FakeWindow final : public Window {
public:
    void setContentView(QObject *view) override
    {
        contentView = view;
        contentSet = true;
    }
    QRectF frame() const override { return rect; }
    void setFrame(const QRectF &newFrame, bool display, bool animate) override
    {
        rect = newFrame;
        displayed = display;
        animated = animate;
    }

    QObject *contentView = nullptr;
    bool contentSet = false;
    QRectF rect{40, 60, 640, 480};
    bool displayed = false;
    bool animated = false;
};
