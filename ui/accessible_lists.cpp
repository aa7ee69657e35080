#include "ui/accessible_lists.h"

#include <QAccessibleWidget>
#include <QComboBox>

namespace {

/// A drop-down list: its name, its current item as its value and as a
/// read-only text, and an action that opens it. The text is what assistive
/// tools read over AT-SPI, where a value can only be a number.
class NamedListAccessible final : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit NamedListAccessible(QComboBox* list) : QAccessibleWidget(list, QAccessible::ComboBox) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QString text(QAccessible::Text kind) const override {
        if (kind == QAccessible::Value)
            return list()->currentText();
        return QAccessibleWidget::text(kind);
    }

    QStringList actionNames() const override {
        return QStringList{showMenuAction()} + QAccessibleWidget::actionNames();
    }

    void doAction(const QString& action) override {
        if (action == showMenuAction() || action == pressAction())
            list()->showPopup();
        else
            QAccessibleWidget::doAction(action);
    }

    // The current item as text: nothing in it can be selected or edited.
    QString text(int start, int end) const override { return list()->currentText().mid(start, end - start); }
    int characterCount() const override { return static_cast<int>(list()->currentText().size()); }
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override {}
    int selectionCount() const override { return 0; }
    void selection(int, int* start, int* end) const override { *start = *end = 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    QRect characterRect(int) const override { return {}; }
    int offsetAtPoint(const QPoint&) const override { return -1; }
    void scrollToSubstring(int, int) override {}
    QString attributes(int offset, int* start, int* end) const override {
        *start = *end = offset;
        return {};
    }

private:
    QComboBox* list() const { return static_cast<QComboBox*>(widget()); }
};

QAccessibleInterface* named_list_factory(const QString& class_name, QObject* object) {
    auto* list = qobject_cast<QComboBox*>(object);
    // Asked once per list, possibly before its name is set: the name is read
    // when it is wanted.
    if (class_name != QLatin1String("QComboBox") || !list || list->isEditable())
        return nullptr;
    return new NamedListAccessible(list);
}

} // namespace

void install_accessible_list_names() {
    // Factories installed last are asked first, before Qt's own.
    QAccessible::installFactory(named_list_factory);
}
