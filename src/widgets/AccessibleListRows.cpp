#include "widgets/AccessibleListRows.h"

#include <QAccessibleWidget>
#include <QApplication>
#include <QListView>
#include <QPointer>
#include <QWindow>

#include <map>
#include <memory>
#include <utility>

namespace tavrolin {

namespace {

const QString holderName = QStringLiteral("tavrolinAccessibleListRows");

// Keeps the row controls of one view; a child of the view, found by name.
class RowControlsHolder : public QObject {
  public:
    RowControlsHolder(QListView* view, AccessibleRowControls controls)
        : QObject(view), controls_(std::move(controls)) {
        setObjectName(holderName);
    }
    std::vector<AccessibleRowControl> controls(int row) const {
        return controls_ ? controls_(row) : std::vector<AccessibleRowControl>{};
    }

  private:
    AccessibleRowControls controls_;
};

const RowControlsHolder* holderOf(const QListView* view) {
    for (QObject* child : view->children()) {
        if (child->objectName() == holderName) {
            return dynamic_cast<const RowControlsHolder*>(child);
        }
    }
    return nullptr;
}

// Widgets the view holds besides its viewport that take focus: an open editor.
QList<QWidget*> openEditors(const QListView* view) {
    QList<QWidget*> editors;
    for (QWidget* child : view->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (child != view->viewport() && child->isVisible() &&
            child->focusPolicy() != Qt::NoFocus) {
            editors.append(child);
        }
    }
    return editors;
}

class ListInterface;

// What the row and control interfaces share: the view, valid while it lives.
class RowPart {
  public:
    RowPart(QListView* view, int row) : view_(view), row_(row) {}

  protected:
    QModelIndex index() const {
        if (!view_ || !view_->model() || row_ >= view_->model()->rowCount(view_->rootIndex())) {
            return {};
        }
        return view_->model()->index(row_, view_->modelColumn(), view_->rootIndex());
    }
    ListInterface* list() const;
    QWindow* windowOfView() const { return view_ ? view_->window()->windowHandle() : nullptr; }
    QRect globalRect(const QRect& inViewport) const {
        return view_
                   ? QRect(view_->viewport()->mapToGlobal(inViewport.topLeft()), inViewport.size())
                   : QRect();
    }
    bool showsInViewport(const QRect& inViewport) const {
        return view_ && view_->viewport()->rect().intersects(inViewport);
    }

    QPointer<QListView> view_;
    int row_;
};

class ControlInterface : public QAccessibleInterface,
                         public QAccessibleActionInterface,
                         private RowPart {
  public:
    ControlInterface(QListView* view, int row, int position)
        : RowPart(view, row), position_(position) {}

    bool isValid() const override { return control().has_value(); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return windowOfView(); }
    QAccessibleInterface* parent() const override;
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QString text(QAccessible::Text kind) const override {
        const auto shown = control();
        return shown && kind == QAccessible::Name ? shown->name : QString();
    }
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override {
        const auto shown = control();
        return shown ? globalRect(shown->rect) : QRect();
    }
    QAccessible::Role role() const override {
        const auto shown = control();
        return shown ? shown->role : QAccessible::Button;
    }
    QAccessible::State state() const override {
        QAccessible::State state;
        const auto shown = control();
        if (!shown) {
            state.invalid = true;
            return state;
        }
        state.disabled = !shown->enabled;
        state.checkable = shown->checked.has_value();
        state.checked = shown->checked.value_or(false);
        state.invisible = !showsInViewport(shown->rect);
        state.offscreen = state.invisible;
        return state;
    }
    void* interface_cast(QAccessible::InterfaceType type) override {
        return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this)
                                                    : nullptr;
    }

    QStringList actionNames() const override {
        const auto shown = control();
        if (!shown || !shown->enabled) {
            return {};
        }
        return {shown->checked ? toggleAction() : pressAction()};
    }
    void doAction(const QString& name) override {
        const auto shown = control();
        if (!shown || !shown->enabled || !shown->press || !actionNames().contains(name)) {
            return;
        }
        // Pressed on the next turn: the press may change the rows, which deletes this interface
        // while a screen reader's call on it is still being answered.
        QMetaObject::invokeMethod(view_, shown->press, Qt::QueuedConnection);
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

  private:
    std::optional<AccessibleRowControl> control() const {
        if (!index().isValid()) {
            return std::nullopt;
        }
        const RowControlsHolder* holder = holderOf(view_);
        auto controls = holder ? holder->controls(row_) : std::vector<AccessibleRowControl>{};
        if (position_ >= static_cast<int>(controls.size())) {
            return std::nullopt;
        }
        return std::move(controls[static_cast<std::size_t>(position_)]);
    }

    int position_;
};

class RowInterface : public QAccessibleInterface,
                     public QAccessibleActionInterface,
                     private RowPart {
  public:
    RowInterface(QListView* view, int row) : RowPart(view, row) {}

    bool isValid() const override { return index().isValid(); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return windowOfView(); }
    QAccessibleInterface* parent() const override {
        return view_ ? QAccessible::queryAccessibleInterface(view_) : nullptr;
    }
    QAccessibleInterface* child(int position) const override;
    int childCount() const override { return static_cast<int>(controls().size()); }
    int indexOfChild(const QAccessibleInterface* child) const override;
    QAccessibleInterface* childAt(int x, int y) const override {
        const auto shown = controls();
        for (std::size_t i = 0; i < shown.size(); ++i) {
            if (globalRect(shown[i].rect).contains(x, y)) {
                return child(static_cast<int>(i));
            }
        }
        return nullptr;
    }
    QString text(QAccessible::Text kind) const override {
        const QModelIndex shown = index();
        if (kind == QAccessible::Name) {
            const QString spoken = shown.data(Qt::AccessibleTextRole).toString();
            return spoken.isEmpty() ? shown.data(Qt::DisplayRole).toString() : spoken;
        }
        return kind == QAccessible::Description
                   ? shown.data(Qt::AccessibleDescriptionRole).toString()
                   : QString();
    }
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override { return view_ ? globalRect(view_->visualRect(index())) : QRect(); }
    QAccessible::Role role() const override { return QAccessible::ListItem; }
    QAccessible::State state() const override {
        QAccessible::State state;
        const QModelIndex shown = index();
        if (!shown.isValid()) {
            state.invalid = true;
            return state;
        }
        state.focusable = true;
        state.focused = view_->hasFocus() && view_->currentIndex() == shown;
        state.selectable = view_->selectionMode() != QAbstractItemView::NoSelection;
        state.selected = view_->selectionModel() && view_->selectionModel()->isSelected(shown);
        state.disabled = !(shown.flags() & Qt::ItemIsEnabled);
        state.editable = (shown.flags() & Qt::ItemIsEditable) != 0;
        state.invisible = !showsInViewport(view_->visualRect(shown));
        state.offscreen = state.invisible;
        return state;
    }
    void* interface_cast(QAccessible::InterfaceType type) override {
        return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this)
                                                    : nullptr;
    }

    QStringList actionNames() const override { return {setFocusAction()}; }
    void doAction(const QString& name) override {
        const QModelIndex shown = index();
        if (name == setFocusAction() && shown.isValid()) {
            view_->setFocus(Qt::OtherFocusReason);
            view_->setCurrentIndex(shown);
        }
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

    int row() const { return row_; }
    const QListView* view() const { return view_; }

  private:
    std::vector<AccessibleRowControl> controls() const {
        const RowControlsHolder* holder = view_ ? holderOf(view_) : nullptr;
        return holder && index().isValid() ? holder->controls(row_)
                                           : std::vector<AccessibleRowControl>{};
    }
};

// The list: its rows, then an open editor. Makes the row and control interfaces on first use
// and deletes them all when the rows change and when it goes itself.
class ListInterface : public QAccessibleWidget {
  public:
    explicit ListInterface(QListView* view)
        : QAccessibleWidget(view, QAccessible::List), context_(std::make_unique<QObject>()) {
        if (QAbstractItemModel* model = view->model()) {
            const auto forget = [this] { forgetRows(); };
            QObject::connect(model, &QAbstractItemModel::modelReset, context_.get(), forget);
            QObject::connect(model, &QAbstractItemModel::layoutChanged, context_.get(), forget);
            QObject::connect(model, &QAbstractItemModel::rowsInserted, context_.get(), forget);
            QObject::connect(model, &QAbstractItemModel::rowsRemoved, context_.get(), forget);
            QObject::connect(model, &QAbstractItemModel::rowsMoved, context_.get(), forget);
        }
    }
    ~ListInterface() override { forgetRows(); }

    QListView* view() const { return static_cast<QListView*>(widget()); }

    int childCount() const override {
        return rowCount() + static_cast<int>(openEditors(view()).size());
    }
    QAccessibleInterface* child(int position) const override {
        if (position < 0) {
            return nullptr;
        }
        if (position < rowCount()) {
            return rowInterface(position);
        }
        const QList<QWidget*> editors = openEditors(view());
        const int editor = position - rowCount();
        return editor < editors.size() ? QAccessible::queryAccessibleInterface(editors[editor])
                                       : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        if (child == nullptr) {
            return -1;
        }
        if (const auto* row = dynamic_cast<const RowInterface*>(child)) {
            return row->view() == view() && row->isValid() ? row->row() : -1;
        }
        const int editor = openEditors(view()).indexOf(qobject_cast<QWidget*>(child->object()));
        return editor < 0 ? -1 : rowCount() + editor;
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        const QList<QWidget*> editors = openEditors(view());
        for (QWidget* editor : editors) {
            if (QRect(editor->mapToGlobal(QPoint(0, 0)), editor->size()).contains(x, y)) {
                return QAccessible::queryAccessibleInterface(editor);
            }
        }
        const QModelIndex index = view()->indexAt(view()->viewport()->mapFromGlobal(QPoint(x, y)));
        return index.isValid() ? rowInterface(index.row()) : nullptr;
    }
    QAccessibleInterface* focusChild() const override {
        const QWidget* focused = QApplication::focusWidget();
        for (QWidget* editor : openEditors(view())) {
            if (editor == focused || editor->isAncestorOf(focused)) {
                return QAccessible::queryAccessibleInterface(editor);
            }
        }
        const QModelIndex current = view()->currentIndex();
        return view()->hasFocus() && current.isValid() ? rowInterface(current.row()) : nullptr;
    }

    QAccessibleInterface* rowInterface(int row) const {
        return interfaceFor(rows_, row, [&] { return new RowInterface(view(), row); });
    }
    QAccessibleInterface* controlInterface(int row, int position) const {
        return interfaceFor(controls_, std::pair(row, position),
                            [&] { return new ControlInterface(view(), row, position); });
    }

  private:
    int rowCount() const {
        const QAbstractItemModel* model = view()->model();
        return model ? model->rowCount(view()->rootIndex()) : 0;
    }

    template <typename Key, typename Make>
    static QAccessibleInterface* interfaceFor(std::map<Key, QAccessible::Id>& made, const Key& key,
                                              Make make) {
        if (const auto found = made.find(key); found != made.end()) {
            if (QAccessibleInterface* known = QAccessible::accessibleInterface(found->second)) {
                return known;
            }
        }
        QAccessibleInterface* fresh = make();
        made[key] = QAccessible::registerAccessibleInterface(fresh);
        return fresh;
    }

    void forgetRows() {
        auto rows = std::exchange(rows_, {});
        auto controls = std::exchange(controls_, {});
        for (const auto& [key, id] : controls) {
            QAccessible::deleteAccessibleInterface(id);
        }
        for (const auto& [key, id] : rows) {
            QAccessible::deleteAccessibleInterface(id);
        }
    }

    std::unique_ptr<QObject> context_;
    mutable std::map<int, QAccessible::Id> rows_;
    mutable std::map<std::pair<int, int>, QAccessible::Id> controls_;
};

ListInterface* RowPart::list() const {
    return view_ ? dynamic_cast<ListInterface*>(QAccessible::queryAccessibleInterface(view_))
                 : nullptr;
}

QAccessibleInterface* ControlInterface::parent() const {
    ListInterface* owner = list();
    return owner ? owner->rowInterface(row_) : nullptr;
}

QAccessibleInterface* RowInterface::child(int position) const {
    ListInterface* owner = list();
    return owner && position >= 0 && position < childCount()
               ? owner->controlInterface(row_, position)
               : nullptr;
}

int RowInterface::indexOfChild(const QAccessibleInterface* child) const {
    for (int i = 0; i < childCount(); ++i) {
        if (RowInterface::child(i) == child) {
            return i;
        }
    }
    return -1;
}

QAccessibleInterface* listRowsFactory(const QString&, QObject* object) {
    auto* view = qobject_cast<QListView*>(object);
    return view && holderOf(view) ? new ListInterface(view) : nullptr;
}

}  // namespace

void exposeListRows(QListView* view, AccessibleRowControls controls) {
    static const bool installed = [] {
        QAccessible::installFactory(listRowsFactory);
        return true;
    }();
    (void)installed;
    new RowControlsHolder(view, std::move(controls));
    // Qt makes an item view's interface as soon as the view reports a change (its model, its
    // name); one made before this call is replaced.
    QAccessibleInterface* made = QAccessible::queryAccessibleInterface(view);
    if (made && !dynamic_cast<ListInterface*>(made)) {
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
    }
}

}  // namespace tavrolin
