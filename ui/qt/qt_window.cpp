#include "ui/qt/qt_window.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QEventLoop>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QTextDocument>
#include <QTimer>

#include "ui/qt/accessibility.h"
#include "ui/qt/accessible_names.h"
#include "ui/qt/icons.h"
#include "ui/qt/ip_address_edit.h"
#include "ui/qt/key_codes.h"
#include "ui/qt/progress_widget.h"
#include "ui/qt/qt_window_system.h"
#include "ui/qt/up_down.h"

namespace vorpane::qt {

namespace {

using ui::ControlClass;

constexpr const char* kIconProperty = "vorpaneIconId";
constexpr const char* kTextProperty = "vorpaneText";

QString FromUtf8(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

std::string ToUtf8(const QString& s) {
    return s.toUtf8().toStdString();
}

// The rich edit's text with line breaks as '\n' and every other character
// as typed (toPlainText would turn no-break spaces into blanks).
QString RichEditText(const QPlainTextEdit* edit) {
    QString raw = edit->document()->toRawText();
    raw.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    raw.replace(QChar::LineSeparator, QLatin1Char('\n'));
    return raw;
}

}  // namespace

VorpaneDialog::VorpaneDialog(QtWindow* owner, QWidget* parent) : QDialog(parent), m_owner(owner) {}

void VorpaneDialog::reject() {
    if (m_owner != nullptr) {
        m_owner->RequestCancel();
    }
}

void VorpaneDialog::accept() {
    // Closing is the logic's decision (command 1 through the default button).
}

void VorpaneDialog::closeEvent(QCloseEvent* event) {
    event->ignore();
    if (m_owner != nullptr) {
        m_owner->RequestCancel();
    }
}

void VorpaneDialog::contextMenuEvent(QContextMenuEvent* event) {
    if (m_owner != nullptr) {
        m_owner->ShowSystemMenu(event->globalPos());
    }
}

QtWindow::QtWindow(QtWindowSystem& system, const ui::DialogTemplate& tmpl, ui::DialogEvents& events,
                   QWidget* parent)
    : m_system(system), m_template(tmpl), m_events(&events) {
    InstallAccessibility();
    m_dialog = new VorpaneDialog(this, parent);
    Build(tmpl);
    qApp->installEventFilter(this);
}

QtWindow::~QtWindow() {
    m_events = nullptr;
    m_life->alive = false;
    if (m_life->loop != nullptr) {
        m_life->loop->quit();
    }
    qApp->removeEventFilter(this);
    for (auto& [id, timer] : m_timers) {
        timer->stop();
    }
    if (m_dialog) {
        m_dialog->detach();
        m_dialog->hide();
        // A callback of one of its own widgets may still be on the stack.
        if (m_life->depth > 0) {
            m_dialog->deleteLater();
        } else {
            delete m_dialog.data();
        }
    }
}

void QtWindow::Build(const ui::DialogTemplate& tmpl) {
    VorpaneDialog* d = m_dialog;
    d->setObjectName(QString::number(tmpl.id));
    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    if (tmpl.hasSystemMenu) {
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    }
    d->setWindowFlags(flags);
    d->setWindowTitle(FromUtf8(tmpl.caption));
    d->setAccessibleName(FromUtf8(tmpl.caption));
    d->setFont(DialogFont(tmpl));
    m_units = BaseUnitsForFont(d->font());
    d->setFixedSize(MapDialogSize(tmpl.cx, tmpl.cy, m_units));
    d->setSizeGripEnabled(false);

    for (size_t i = 0; i < tmpl.controls.size(); ++i) {
        const ui::ControlTemplate& c = tmpl.controls[i];
        QWidget* w = CreateControl(c, i);
        w->setObjectName(QString::number(c.id));
        m_widgets.push_back(w);
        if (c.id != ui::kStaticId) {
            m_controls.emplace(c.id, Control{&c, w});
        }
        const bool tabStop = (c.style & ui::kStyleTabStop) != 0;
        if (w->focusPolicy() != Qt::NoFocus) {
            w->setFocusPolicy(tabStop ? Qt::StrongFocus : Qt::ClickFocus);
        }
        if (tabStop && w->focusPolicy() != Qt::NoFocus) {
            m_tabOrder.push_back(w);
        }
    }
    // Labels name the input that follows them.
    for (size_t i = 0; i < tmpl.controls.size(); ++i) {
        const int label = LabelIndexFor(tmpl, i);
        if (label < 0 || tmpl.controls[i].id == ui::kStaticId) {
            continue;
        }
        if (auto* l = qobject_cast<QLabel*>(m_widgets[static_cast<size_t>(label)])) {
            l->setBuddy(m_widgets[i]);
        }
    }
    for (size_t i = 1; i < m_tabOrder.size(); ++i) {
        QWidget::setTabOrder(m_tabOrder[i - 1], m_tabOrder[i]);
    }

    // Alt+Space opens the system menu items where the window manager lets
    // the key through; the context-menu key and a right click always do.
    auto* sysMenuKey = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_Space), d);
    connect(sysMenuKey, &QShortcut::activated, this, [this] {
        if (m_dialog) {
            ShowSystemMenu(m_dialog->mapToGlobal(QPoint(0, 0)));
        }
    });
}

QWidget* QtWindow::CreateControl(const ui::ControlTemplate& c, size_t index) {
    VorpaneDialog* d = m_dialog;
    const QString caption = FromUtf8(c.caption);
    QRect geometry = MapDialogRect(c.x, c.y, c.cx, c.cy, m_units);
    QWidget* w = nullptr;
    const int id = c.id;
    switch (c.cls) {
        case ControlClass::PushButton: {
            auto* b = new QPushButton(caption, d);
            b->setAutoDefault(true);
            b->setDefault((c.style & ui::kStyleDefault) != 0);
            // The flat style stays a framed button here: Qt's flat buttons
            // draw no frame at all and read as plain text.
            connect(b, &QPushButton::clicked, this,
                    [this, id] { DispatchCommand(id, ui::Notify::Clicked); });
            w = b;
            break;
        }
        case ControlClass::CheckBox: {
            auto* b = new QCheckBox(caption, d);
            connect(b, &QCheckBox::clicked, this,
                    [this, id] { DispatchCommand(id, ui::Notify::Clicked); });
            w = b;
            break;
        }
        case ControlClass::Label: {
            auto* l = new QLabel(d);
            l->setTextFormat(Qt::PlainText);
            l->setAlignment((c.style & ui::kStyleCenter) != 0 ? Qt::AlignHCenter | Qt::AlignTop
                                                              : Qt::AlignLeft | Qt::AlignTop);
            SetLabelText(l, c, caption);
            // The dialog font may be wider than the one the template was laid
            // out with; a one-line label grows to show its whole text.
            geometry.setWidth(std::max(geometry.width(), l->sizeHint().width()));
            w = l;
            break;
        }
        case ControlClass::GroupBox: {
            auto* g = new QGroupBox(caption, d);
            g->setFocusPolicy(Qt::NoFocus);
            g->lower();
            w = g;
            break;
        }
        case ControlClass::IpAddress: {
            auto* ip = new IpAddressEdit(d);
            ip->setFieldNames(AccessibleNameFor(m_template, index));
            connect(ip, &IpAddressEdit::changed, this,
                    [this, id] { DispatchCommand(id, ui::Notify::Changed); });
            w = ip;
            break;
        }
        case ControlClass::ComboBox: {
            auto* cb = new QComboBox(d);
            cb->setEditable(false);
            // The template's height is that of the open list; the closed box
            // is one line high and the list shows what fits in the rest.
            const int closed = std::min(cb->sizeHint().height(), geometry.height());
            const int itemHeight = std::max(1, QFontMetrics(d->font()).height() + 2);
            cb->setMaxVisibleItems(std::max(1, (geometry.height() - closed) / itemHeight));
            geometry.setHeight(closed);
            connect(cb, &QComboBox::currentIndexChanged, this, [this, id] {
                if (m_comboGuard == 0) {
                    DispatchCommand(id, ui::Notify::SelChange);
                }
            });
            w = cb;
            break;
        }
        case ControlClass::Edit: {
            auto* e = new QLineEdit(d);
            e->setFrame((c.style & ui::kStyleBorder) != 0);
            connect(e, &QLineEdit::textChanged, this,
                    [this, id] { DispatchCommand(id, ui::Notify::Changed); });
            w = e;
            break;
        }
        case ControlClass::ProgressBar: {
            auto* p = new ProgressWidget(d);
            if ((c.style & ui::kStyleBorder) != 0) {
                p->setFrameStyle(QFrame::Box | QFrame::Plain);
                p->setLineWidth(1);
            }
            w = p;
            break;
        }
        case ControlClass::UpDown: {
            auto* u = new UpDownControl(d);
            u->setButtonNames(AccessibleNameFor(m_template, index));
            connect(u, &UpDownControl::deltaProposed, this, [this, id](int delta) {
                Dispatch([id, delta](ui::DialogEvents& e) { e.OnDeltaPos(id, delta); });
            });
            w = u;
            break;
        }
        case ControlClass::RichEdit: {
            auto* e = new QPlainTextEdit(d);
            e->setTabChangesFocus(true);
            e->setLineWrapMode(QPlainTextEdit::WidgetWidth);
            e->setVerticalScrollBarPolicy((c.style & ui::kStyleVScroll) != 0
                                              ? Qt::ScrollBarAsNeeded
                                              : Qt::ScrollBarAlwaysOff);
            e->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
            if ((c.style & ui::kStyleBorder) == 0) {
                e->setFrameStyle(QFrame::NoFrame);
            }
            w = e;
            break;
        }
        case ControlClass::Icon: {
            auto* l = new QLabel(d);
            l->setFocusPolicy(Qt::NoFocus);
            l->setPixmap(IconPixmap(c.iconId, d->devicePixelRatioF()));
            l->setProperty(kIconProperty, c.iconId);
            // An icon control takes the icon's own size, whatever the
            // template says.
            geometry.setSize(QSize(32, 32));
            const QString indicator = IndicatorOfLamp(m_template, c.id);
            if (!indicator.isEmpty()) {
                l->setAccessibleDescription(indicator + QStringLiteral(": ") +
                                            LampColourName(c.iconId));
            }
            w = l;
            break;
        }
    }
    w->setGeometry(geometry);
    const bool captionless = caption.isEmpty();
    if (captionless || c.cls == ControlClass::Icon) {
        w->setAccessibleName(AccessibleNameFor(m_template, index));
    }
    return w;
}

void QtWindow::SetLabelText(QWidget* widget, const ui::ControlTemplate& c, const QString& text) {
    auto* l = static_cast<QLabel*>(widget);
    l->setProperty(kTextProperty, text);
    // Without the no-prefix style an '&' marks a mnemonic and is not shown.
    l->setText((c.style & ui::kStyleNoPrefix) != 0 ? text : StripMnemonic(text));
}

const QtWindow::Control* QtWindow::Find(int id) const {
    if (!m_dialog) {
        return nullptr;  // the owner window took this one with it
    }
    const auto it = m_controls.find(id);
    return it == m_controls.end() ? nullptr : &it->second;
}

QWidget* QtWindow::control(int id) const {
    const Control* c = Find(id);
    return c != nullptr ? c->widget : nullptr;
}

template <class F>
void QtWindow::Dispatch(F&& f) {
    if (m_events == nullptr) {
        return;
    }
    // The handler may destroy this window; only the shared life record is
    // touched afterwards.
    std::shared_ptr<Life> life = m_life;
    ui::DialogEvents& events = *m_events;
    ++life->depth;
    f(events);
    --life->depth;
}

void QtWindow::DispatchCommand(int id, ui::Notify code) {
    Dispatch([id, code](ui::DialogEvents& e) { e.OnCommand(id, code); });
}

void QtWindow::RequestCancel() {
    DispatchCommand(ui::kIdCancel, ui::Notify::Clicked);
}

int QtWindow::RunModal() {
    std::shared_ptr<Life> life = m_life;
    if (!life->ended && m_dialog) {
        m_dialog->setWindowModality(Qt::ApplicationModal);
        m_dialog->show();
        m_dialog->raise();
        m_dialog->activateWindow();
        FocusFirstTabStop();
        QEventLoop loop;
        life->loop = &loop;
        loop.exec(QEventLoop::DialogExec);
        life->loop = nullptr;
        if (!life->alive) {
            return life->result;
        }
    }
    life->ended = false;
    return life->result;
}

void QtWindow::FocusFirstTabStop() {
    for (QWidget* w : m_tabOrder) {
        if (w->isEnabled() && w->isVisible()) {
            w->setFocus(Qt::TabFocusReason);
            return;
        }
    }
}

void QtWindow::EndDialog(int result) {
    m_life->result = result;
    m_life->ended = true;
    if (m_life->loop != nullptr) {
        m_life->loop->quit();
    }
    if (m_dialog) {
        m_dialog->hide();
    }
}

void QtWindow::SetTitle(const std::string& utf8) {
    if (m_dialog) {
        m_dialog->setWindowTitle(FromUtf8(utf8));
        m_dialog->setAccessibleName(FromUtf8(utf8));
    }
}

void QtWindow::SetIcon(int iconId) {
    if (m_dialog) {
        m_dialog->setWindowIcon(LoadIcon(iconId));
    }
}

void QtWindow::AppendSystemMenuSeparator() {
    m_menu.push_back(MenuItem{true, 0, QString()});
}

void QtWindow::AppendSystemMenuItem(uint32_t commandId, const std::string& utf8) {
    m_menu.push_back(MenuItem{false, commandId, FromUtf8(utf8)});
}

QMenu* QtWindow::BuildSystemMenu(QWidget* parent) {
    auto* menu = new QMenu(parent);
    menu->setObjectName(QStringLiteral("systemMenu"));
    menu->setAccessibleName(QStringLiteral("System menu"));
    for (const MenuItem& item : m_menu) {
        if (item.separator) {
            menu->addSeparator();
            continue;
        }
        const uint32_t command = item.commandId;
        QAction* a = menu->addAction(item.text);
        a->setData(QVariant::fromValue(command));
        connect(a, &QAction::triggered, this, [this, command] {
            Dispatch([command](ui::DialogEvents& e) { e.OnSysCommand(command); });
        });
    }
    return menu;
}

void QtWindow::ShowSystemMenu(const QPoint& globalPos) {
    if (!m_dialog || !m_template.hasSystemMenu || m_menu.empty()) {
        return;
    }
    QMenu* menu = BuildSystemMenu(m_dialog);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(globalPos);
}

std::string QtWindow::GetText(int id) {
    const Control* c = Find(id);
    if (c == nullptr) {
        return std::string();
    }
    QWidget* w = c->widget;
    switch (c->tmpl->cls) {
        case ControlClass::PushButton:
        case ControlClass::CheckBox:
            return ToUtf8(static_cast<QAbstractButton*>(w)->text());
        case ControlClass::GroupBox:
            return ToUtf8(static_cast<QGroupBox*>(w)->title());
        case ControlClass::IpAddress:
            return ToUtf8(static_cast<IpAddressEdit*>(w)->text());
        case ControlClass::ComboBox:
            return ToUtf8(static_cast<QComboBox*>(w)->currentText());
        case ControlClass::Edit:
            return ToUtf8(static_cast<QLineEdit*>(w)->text());
        case ControlClass::RichEdit:
            return ToUtf8(RichEditText(static_cast<QPlainTextEdit*>(w)));
        case ControlClass::ProgressBar:
            return static_cast<ProgressWidget*>(w)->windowText();
        case ControlClass::Label:
        case ControlClass::UpDown:
        case ControlClass::Icon:
            return ToUtf8(w->property(kTextProperty).toString());
    }
    return std::string();
}

void QtWindow::SetText(int id, const std::string& utf8) {
    const Control* c = Find(id);
    if (c == nullptr) {
        return;
    }
    QWidget* w = c->widget;
    const QString text = FromUtf8(utf8);
    switch (c->tmpl->cls) {
        case ControlClass::PushButton:
        case ControlClass::CheckBox:
            static_cast<QAbstractButton*>(w)->setText(text);
            break;
        case ControlClass::GroupBox:
            static_cast<QGroupBox*>(w)->setTitle(text);
            break;
        case ControlClass::IpAddress:
            static_cast<IpAddressEdit*>(w)->setText(text);
            break;
        case ControlClass::ComboBox: {
            // A drop-down list has no text of its own: an item of that text
            // becomes the selection.
            auto* cb = static_cast<QComboBox*>(w);
            const int found = cb->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
            if (found >= 0) {
                ++m_comboGuard;
                cb->setCurrentIndex(found);
                --m_comboGuard;
            }
            break;
        }
        case ControlClass::Edit: {
            auto* edit = static_cast<QLineEdit*>(w);
            // The platform's edit box reports every write, even of the text
            // it holds; Qt's reports only a change.
            if (edit->text() == text) {
                DispatchCommand(id, ui::Notify::Changed);
            }
            edit->setText(text);
            break;
        }
        case ControlClass::RichEdit:
            static_cast<QPlainTextEdit*>(w)->setPlainText(text);
            break;
        case ControlClass::ProgressBar:
            static_cast<ProgressWidget*>(w)->setWindowText(utf8);
            break;
        case ControlClass::Label:
            SetLabelText(w, *c->tmpl, text);
            break;
        case ControlClass::UpDown:
        case ControlClass::Icon:
            w->setProperty(kTextProperty, text);
            break;
    }
}

void QtWindow::Enable(int id, bool enable) {
    if (QWidget* w = control(id)) {
        w->setEnabled(enable);
    }
}

bool QtWindow::IsEnabled(int id) {
    QWidget* w = control(id);
    return w != nullptr && m_dialog && w->isEnabledTo(m_dialog);
}

std::array<uint8_t, 4> QtWindow::GetIpOctets(int id) {
    if (auto* ip = qobject_cast<IpAddressEdit*>(control(id))) {
        return ip->octets();
    }
    return {};
}

void QtWindow::ComboReset(int id) {
    if (auto* cb = qobject_cast<QComboBox*>(control(id))) {
        ++m_comboGuard;
        cb->clear();
        --m_comboGuard;
    }
}

int QtWindow::ComboAdd(int id, const std::string& utf8) {
    auto* cb = qobject_cast<QComboBox*>(control(id));
    if (cb == nullptr) {
        return -1;
    }
    ++m_comboGuard;
    const int selected = cb->currentIndex();
    cb->addItem(FromUtf8(utf8));
    // Adding never selects: the first item of an empty list would otherwise
    // become the selection.
    cb->setCurrentIndex(selected);
    --m_comboGuard;
    return cb->count() - 1;
}

int QtWindow::ComboCount(int id) {
    auto* cb = qobject_cast<QComboBox*>(control(id));
    return cb != nullptr ? cb->count() : 0;
}

void QtWindow::ComboSetCurSel(int id, int index) {
    if (auto* cb = qobject_cast<QComboBox*>(control(id))) {
        ++m_comboGuard;
        cb->setCurrentIndex(index >= 0 && index < cb->count() ? index : -1);
        --m_comboGuard;
    }
}

int QtWindow::ComboGetCurSel(int id) {
    auto* cb = qobject_cast<QComboBox*>(control(id));
    return cb != nullptr ? cb->currentIndex() : -1;
}

std::string QtWindow::ComboItemText(int id, int index) {
    auto* cb = qobject_cast<QComboBox*>(control(id));
    if (cb == nullptr || index < 0 || index >= cb->count()) {
        return std::string();
    }
    return ToUtf8(cb->itemText(index));
}

int QtWindow::GetCheck(int id) {
    auto* b = qobject_cast<QCheckBox*>(control(id));
    return b != nullptr && b->isChecked() ? 1 : 0;
}

void QtWindow::SetCheck(int id, int state) {
    if (auto* b = qobject_cast<QCheckBox*>(control(id))) {
        b->setChecked(state != 0);
    }
}

void QtWindow::SetStaticIcon(int id, int iconId) {
    auto* l = qobject_cast<QLabel*>(control(id));
    if (l == nullptr || !m_dialog) {
        return;
    }
    if (l->property(kIconProperty).toInt() != iconId) {
        l->setPixmap(IconPixmap(iconId, m_dialog->devicePixelRatioF()));
        l->setProperty(kIconProperty, iconId);
    }
    const QString indicator = IndicatorOfLamp(m_template, id);
    if (!indicator.isEmpty()) {
        const QString description = indicator + QStringLiteral(": ") + LampColourName(iconId);
        if (l->accessibleDescription() != description) {
            l->setAccessibleDescription(description);
        }
    }
}

int QtWindow::GetStaticIcon(int id) {
    QWidget* w = control(id);
    return w != nullptr ? w->property(kIconProperty).toInt() : 0;
}

void QtWindow::AttachCustomControl(int id, ui::CustomControl* control) {
    if (auto* p = qobject_cast<ProgressWidget*>(this->control(id))) {
        p->attach(control);
        p->update();
    }
}

ui::Rect QtWindow::ControlClientRect(int id) {
    QWidget* w = control(id);
    if (w == nullptr) {
        return ui::Rect{};
    }
    if (auto* p = qobject_cast<ProgressWidget*>(w)) {
        return p->clientRect();
    }
    return ui::Rect{0, 0, w->width(), w->height()};
}

void QtWindow::RedrawControlNow(int id) {
    if (QWidget* w = control(id)) {
        w->repaint();
    }
}

void QtWindow::InvalidateControl(int id) {
    if (QWidget* w = control(id)) {
        w->update();
    }
}

void QtWindow::SetTimer(int timerId, int periodMs) {
    QTimer*& timer = m_timers[timerId];
    if (timer == nullptr) {
        timer = new QTimer(this);
        connect(timer, &QTimer::timeout, this, [this, timerId] {
            Dispatch([timerId](ui::DialogEvents& e) { e.OnTimer(timerId); });
        });
    }
    // Setting a running timer again starts its period afresh.
    timer->start(std::max(periodMs, 1));
}

void QtWindow::KillTimer(int timerId) {
    const auto it = m_timers.find(timerId);
    if (it != m_timers.end()) {
        it->second->stop();
    }
}

int QtWindow::MessageBox(const std::string& utf8, uint32_t style) {
    std::shared_ptr<Life> life = m_life;
    ++life->depth;
    const int result = QtWindowSystem::ShowMessageBox(
        m_dialog, QString::fromStdString(m_system.ApplicationName()), FromUtf8(utf8), style);
    --life->depth;
    return result;
}

void QtWindow::SetAccessibleValue(int id, int value, int minimum, int maximum,
                                  const std::string& text) {
    if (auto* p = qobject_cast<ProgressWidget*>(control(id))) {
        p->setAccessibleValue(value, minimum, maximum, FromUtf8(text));
    }
}

int QtWindow::ControlIdOf(QObject* object) const {
    for (QObject* o = object; o != nullptr && o != m_dialog; o = o->parent()) {
        bool ok = false;
        const int id = o->objectName().toInt(&ok);
        if (ok && id != ui::kStaticId && o->parent() == m_dialog && m_controls.count(id) != 0) {
            return id;
        }
    }
    return 0;
}

bool QtWindow::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if ((type != QEvent::KeyPress && type != QEvent::KeyRelease) || m_events == nullptr ||
        !m_dialog || !watched->isWidgetType()) {
        return false;
    }
    auto* widget = static_cast<QWidget*>(watched);
    if (widget->window() != m_dialog) {
        return false;
    }
    // A key event travels from the focus widget up through its parents and
    // passes this filter at every step; the dialog sees it once.
    QWidget* focus = QApplication::focusWidget();
    const bool firstStop = widget == (focus != nullptr ? focus : m_dialog.data());
    if (!firstStop && event == m_lastKeyEvent) {
        return false;
    }
    m_lastKeyEvent = event;
    auto* key = static_cast<QKeyEvent*>(event);
    if (type == QEvent::KeyRelease && key->isAutoRepeat()) {
        return false;  // a held key repeats its key-down only
    }
    ui::KeyMessage msg;
    msg.kind =
        type == QEvent::KeyPress ? ui::KeyMessage::Kind::KeyDown : ui::KeyMessage::Kind::KeyUp;
    msg.virtualKey = VirtualKeyFromQt(key->key());
    msg.controlId = ControlIdOf(widget);
    if (msg.virtualKey == 0) {
        return false;
    }
    bool eaten = false;
    Dispatch([&](ui::DialogEvents& e) { eaten = e.PreTranslateMessage(msg); });
    return eaten;
}

}  // namespace vorpane::qt
