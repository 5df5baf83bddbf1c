#include "framework/listbox.h"

#include <QPainter>
#include <algorithm>

#include "framework/win.h"
#include "platform/text.h"

namespace framework {
namespace {

constexpr int kDefaultTabDialogUnits = 32;

// Draws a row's text with its tabs expanded to the list's tab stops.
class TabStopDelegate : public QStyledItemDelegate {
public:
    explicit TabStopDelegate(ListBoxWidget* list) : QStyledItemDelegate(list), list_(list) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem opt = option;
        initStyleOption(&opt, index);
        const QString text = opt.text;
        opt.text.clear();
        const QWidget* widget = opt.widget;
        QStyle* style = widget ? widget->style() : nullptr;
        if (style) style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);

        painter->save();
        painter->setFont(opt.font);
        const bool selected = opt.state & QStyle::State_Selected;
        painter->setPen(opt.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
        const QRect r = opt.rect.adjusted(2, 0, 0, 0);
        const QFontMetrics fm(opt.font);
        int x = 0;
        const QStringList parts = text.split(QLatin1Char('\t'));
        for (int i = 0; i < parts.size(); ++i) {
            if (i > 0) x = list_->nextTabStop(x);
            painter->drawText(QRect(r.left() + x, r.top(), r.width() - x, r.height()),
                              Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, parts[i]);
            x += fm.horizontalAdvance(parts[i]);
        }
        painter->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        const QFontMetrics fm(option.font);
        int x = 0;
        const QStringList parts = index.data().toString().split(QLatin1Char('\t'));
        for (int i = 0; i < parts.size(); ++i) {
            if (i > 0) x = list_->nextTabStop(x);
            x += fm.horizontalAdvance(parts[i]);
        }
        size.setWidth(x + 4);
        size.setHeight(fm.height());
        return size;
    }

private:
    ListBoxWidget* list_;
};

}  // namespace

ListBoxWidget::ListBoxWidget(bool sorted, bool useTabStops, int baseUnitX, QWidget* parent)
    : QListWidget(parent), sorted_(sorted), useTabStops_(useTabStops),
      baseUnitX_(baseUnitX > 0 ? baseUnitX : 6) {
    setSelectionMode(QAbstractItemView::SingleSelection);
    setUniformItemSizes(true);
    if (useTabStops_) setItemDelegate(new TabStopDelegate(this));
}

void ListBoxWidget::setTabStops(std::vector<int> dialogUnits) {
    std::sort(dialogUnits.begin(), dialogUnits.end());
    stops_ = std::move(dialogUnits);
    doItemsLayout();
    viewport()->update();
}

int ListBoxWidget::nextTabStop(int x) const {
    for (int stop : stops_) {
        const int px = MulDiv(stop, baseUnitX_, 4);
        if (px > x) return px;
    }
    const int step = MulDiv(kDefaultTabDialogUnits, baseUnitX_, 4);
    return (x / step + 1) * step;
}

ListBoxWidget* CListBox::list() const { return qobject_cast<ListBoxWidget*>(GetWidget()); }

void CListBox::ResetContent() {
    if (auto* l = list()) l->clear();
}

int CListBox::AddString(const std::string& text) {
    auto* l = list();
    if (!l) return LB_ERR;
    const QString t = platform::fromAnsi(text);
    int index = l->count();
    if (l->isSorted()) {
        for (int i = 0; i < l->count(); ++i) {
            if (QString::compare(l->item(i)->text(), t, Qt::CaseInsensitive) > 0) {
                index = i;
                break;
            }
        }
    }
    l->insertItem(index, t);
    return index;
}

int CListBox::InsertString(int index, const std::string& text) {
    auto* l = list();
    if (!l || index < -1 || index > l->count()) return LB_ERR;
    if (index == -1) index = l->count();
    l->insertItem(index, platform::fromAnsi(text));
    return index;
}

int CListBox::DeleteString(int index) {
    auto* l = list();
    if (!l || index < 0 || index >= l->count()) return LB_ERR;
    delete l->takeItem(index);
    return l->count();
}

int CListBox::GetCount() const {
    auto* l = list();
    return l ? l->count() : LB_ERR;
}

int CListBox::GetText(int index, std::string& text) const {
    auto* l = list();
    if (!l || index < 0 || index >= l->count()) return LB_ERR;
    text = platform::toAnsi(l->item(index)->text());
    return static_cast<int>(text.size());
}

std::string CListBox::GetText(int index) const {
    std::string text;
    GetText(index, text);
    return text;
}

int CListBox::GetCurSel() const {
    auto* l = list();
    return l ? l->currentRow() : LB_ERR;
}

int CListBox::SetCurSel(int index) {
    auto* l = list();
    if (!l || index < -1 || index >= l->count()) return LB_ERR;
    l->setCurrentRow(index);
    if (index == -1) l->clearSelection();
    return index;
}

BOOL CListBox::SetTabStops(const std::vector<int>& dialogUnits) {
    auto* l = list();
    if (!l || !l->usesTabStops()) return FALSE;
    l->setTabStops(dialogUnits);
    return TRUE;
}

}  // namespace framework
