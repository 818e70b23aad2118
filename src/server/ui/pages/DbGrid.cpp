#include "server/ui/pages/DbGrid.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QStyledItemDelegate>
#include <QVBoxLayout>
#include <QWheelEvent>

namespace tarvina::server::ui {

namespace {

constexpr int kBarRange = 1000;

// Marked rows take the grid's marked colour; the others the window colour.
class RowColourDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QColor marked = QColor(0, 255, 0);

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        option->backgroundBrush = index.data(TableWindow::kMarkedRole).toBool()
                                      ? QBrush(marked)
                                      : option->palette.brush(QPalette::Base);
    }
};

} // namespace

DbGrid::DbGrid(TableWindow& model, QWidget* parent) : QWidget(parent), model_(model) {
    view_ = new QTableView(this);
    view_->setModel(&model_);
    view_->setItemDelegate(new RowColourDelegate(view_));
    view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view_->setSelectionBehavior(QAbstractItemView::SelectRows);
    view_->setSelectionMode(QAbstractItemView::SingleSelection);
    view_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view_->verticalHeader()->setDefaultSectionSize(view_->fontMetrics().height() + 6);
    view_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view_->verticalHeader()->setFixedWidth(14);
    view_->installEventFilter(this);
    view_->viewport()->installEventFilter(this);
    const QFontMetrics fm(view_->font());
    for (int i = 0; i < int(model_.columns().size()); ++i) {
        const auto& c = model_.columns()[std::size_t(i)];
        const int chars = c.widthChars > 0 ? c.widthChars : 10;
        view_->setColumnWidth(i, std::max(fm.horizontalAdvance(c.title),
                                          fm.horizontalAdvance(QLatin1Char('0')) * chars) +
                                     12);
    }

    bar_ = new QScrollBar(Qt::Vertical, this);
    bar_->setRange(0, kBarRange);
    bar_->setPageStep(kBarRange / 20);
    bar_->setAccessibleName(QStringLiteral("Posición en la tabla"));

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    row->addWidget(view_, 1);
    row->addWidget(bar_);

    connect(&model_, &TableWindow::currentChanged, this, &DbGrid::showCurrent);
    connect(&model_, &QAbstractItemModel::modelReset, this,
            [this] { showCurrent(model_.currentRow()); });
    connect(view_, &QAbstractItemView::clicked, this,
            [this](const QModelIndex& i) { model_.setCurrentRow(i.row()); });
    connect(bar_, &QScrollBar::actionTriggered, this, [this](int action) {
        if (syncing_) {
            return;
        }
        switch (action) {
        case QAbstractSlider::SliderSingleStepAdd:
            model_.Next();
            break;
        case QAbstractSlider::SliderSingleStepSub:
            model_.Prior();
            break;
        case QAbstractSlider::SliderPageStepAdd:
            model_.MoveBy(model_.pageRows());
            break;
        case QAbstractSlider::SliderPageStepSub:
            model_.MoveBy(-model_.pageRows());
            break;
        default:
            return;
        }
        // The slider follows the model, not the click.
        QMetaObject::invokeMethod(
            this, [this] { showCurrent(model_.currentRow()); }, Qt::QueuedConnection);
    });
    connect(bar_, &QScrollBar::sliderReleased, this,
            [this] { model_.jumpTo(double(bar_->value()) / kBarRange); });
}

void DbGrid::setMarkedColour(const QColor& c) {
    static_cast<RowColourDelegate*>(view_->itemDelegate())->marked = c;
    view_->viewport()->update();
}

void DbGrid::showCurrent(int row) {
    syncing_ = true;
    if (row >= 0) {
        view_->selectRow(row);
        view_->setCurrentIndex(model_.index(row, std::max(0, view_->currentIndex().column())));
    } else {
        view_->clearSelection();
    }
    if (!bar_->isSliderDown()) {
        bar_->setValue(int(model_.position() * kBarRange + 0.5));
    }
    syncing_ = false;
}

void DbGrid::fitRows() {
    const int rowHeight = std::max(1, view_->verticalHeader()->defaultSectionSize());
    const int room = view_->viewport()->height();
    model_.setPageRows(std::max(1, room / rowHeight));
}

void DbGrid::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    fitRows();
}

bool DbGrid::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Wheel && watched == view_->viewport()) {
        const auto* w = static_cast<QWheelEvent*>(event);
        const int steps = -w->angleDelta().y() / 40;
        if (steps != 0) {
            model_.MoveBy(steps);
        }
        return true;
    }
    if (event->type() == QEvent::KeyPress && watched == view_) {
        const auto* k = static_cast<QKeyEvent*>(event);
        switch (k->key()) {
        case Qt::Key_Down:
            model_.Next();
            return true;
        case Qt::Key_Up:
            model_.Prior();
            return true;
        case Qt::Key_PageDown:
            model_.MoveBy(model_.pageRows());
            return true;
        case Qt::Key_PageUp:
            model_.MoveBy(-model_.pageRows());
            return true;
        case Qt::Key_Home:
            if (k->modifiers() & Qt::ControlModifier) {
                model_.First();
                return true;
            }
            break;
        case Qt::Key_End:
            if (k->modifiers() & Qt::ControlModifier) {
                model_.Last();
                return true;
            }
            break;
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

DbNavigator::DbNavigator(TableWindow& model, QWidget* parent) : QWidget(parent) {
    static const char16_t* const kHints[] = {u"Primer registro", u"Registro anterior",
                                             u"Próximo registro", u"Último registro",
                                             u"Refresca información"};
    static const char16_t* const kGlyphs[] = {u"|◀", u"◀", u"▶", u"▶|", u"⟳"};
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(1);
    for (int i = 0; i < 5; ++i) {
        auto* b = new QToolButton(this);
        b->setText(QString::fromUtf16(kGlyphs[i]));
        b->setToolTip(QString::fromUtf16(kHints[i]));
        b->setAccessibleName(QString::fromUtf16(kHints[i]));
        b->setMinimumWidth(28);
        row->addWidget(b);
        buttons_[i] = b;
    }
    connect(buttons_[0], &QToolButton::clicked, &model, &TableWindow::First);
    connect(buttons_[1], &QToolButton::clicked, &model, &TableWindow::Prior);
    connect(buttons_[2], &QToolButton::clicked, &model, &TableWindow::Next);
    connect(buttons_[3], &QToolButton::clicked, &model, &TableWindow::Last);
    connect(buttons_[4], &QToolButton::clicked, this, [this, &model] {
        model.Refresh();
        if (onRefresh) {
            onRefresh();
        }
    });
}

QLabel* CaptionBar(const QString& text, QWidget* parent) {
    auto* l = new QLabel(text, parent);
    l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    l->setAutoFillBackground(true);
    QPalette p = l->palette();
    p.setColor(QPalette::Window, p.color(QPalette::Highlight));
    p.setColor(QPalette::WindowText, Qt::white);
    l->setPalette(p);
    QFont f(QStringLiteral("Verdana"));
    f.setBold(true);
    f.setPointSize(11);
    l->setFont(f);
    l->setMinimumHeight(24);
    return l;
}

} // namespace tarvina::server::ui
