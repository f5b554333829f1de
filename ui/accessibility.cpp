#include "accessibility.h"

#include "analoggauge.h"
#include "knob.h"
#include "leddisplay.h"
#include "threedpanel.h"

#include <QAccessible>
#include <QAccessibleWidget>

#include <cmath>

#include <mutex>

namespace zimble::ui {

namespace {

// The board-size knob: a slider whose value is read and set, and stepped by the slider's actions.
class KnobAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit KnobAccessible(Knob* knob)
        : QAccessibleWidget(knob, QAccessible::Slider)
    {
    }
    Knob* knob() const { return static_cast<Knob*>(widget()); }

    void* interface_cast(QAccessible::InterfaceType t) override
    {
        if (t == QAccessible::ValueInterface)
            return static_cast<QAccessibleValueInterface*>(this);
        return QAccessibleWidget::interface_cast(t);
    }
    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Value)
            return QString::number(knob()->value());
        return QAccessibleWidget::text(t);
    }
    QVariant currentValue() const override { return knob()->value(); }
    void setCurrentValue(const QVariant& value) override { knob()->setValue(value.toDouble()); }
    QVariant maximumValue() const override { return knob()->maximum(); }
    QVariant minimumValue() const override { return knob()->minimum(); }
    QVariant minimumStepSize() const override { return 1.0; }

    QStringList actionNames() const override
    {
        return QStringList{increaseAction(), decreaseAction()} + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& action) override
    {
        if (action == increaseAction())
            knob()->setValue(std::round(knob()->value()) + 1);
        else if (action == decreaseAction())
            knob()->setValue(std::round(knob()->value()) - 1);
        else
            QAccessibleWidget::doAction(action);
    }
};

// A control that shows a number and takes none: read out as its text, the number as its value.
// `Shown` gives both: text(widget) and value(widget), and the lowest value where there is one.
template <class W, class Shown>
class ShownValueAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    ShownValueAccessible(W* w, QAccessible::Role role) : QAccessibleWidget(w, role) {}
    W* shown() const { return static_cast<W*>(widget()); }

    void* interface_cast(QAccessible::InterfaceType t) override
    {
        if (t == QAccessible::ValueInterface)
            return static_cast<QAccessibleValueInterface*>(this);
        return QAccessibleWidget::interface_cast(t);
    }
    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Value || (t == QAccessible::Description && widget()->accessibleDescription().isEmpty()))
            return Shown::text(shown());
        return QAccessibleWidget::text(t);
    }
    QVariant currentValue() const override { return Shown::value(shown()); }
    void setCurrentValue(const QVariant&) override {} // shows, never takes, a number
    QVariant maximumValue() const override { return {}; }
    QVariant minimumValue() const override { return Shown::minimum(); }
    QVariant minimumStepSize() const override { return {}; }
};

// A display: its digits as text, its number as value.
struct LedShown {
    static QString text(const LedDisplay* led) { return led->displayText().trimmed(); }
    static QVariant value(const LedDisplay* led) { return led->value(); }
    static QVariant minimum() { return {}; }
};
using LedAccessible = ShownValueAccessible<LedDisplay, LedShown>;

// The gauge: an indicator whose value is the reading its owner gives it.
struct GaugeShown {
    static QString text(const AnalogGauge* gauge) { return gauge->readingText(); }
    static QVariant value(const AnalogGauge* gauge) { return gauge->reading(); }
    static QVariant minimum() { return 0.0; }
};
using GaugeAccessible = ShownValueAccessible<AnalogGauge, GaugeShown>;

// A panel reads as its caption, after its accessible name where it has one.
class PanelAccessible : public QAccessibleWidget {
public:
    explicit PanelAccessible(ThreeDPanel* panel)
        : QAccessibleWidget(panel, panel->children().isEmpty() ? QAccessible::StaticText : QAccessible::Pane)
    {
    }
    QString text(QAccessible::Text t) const override
    {
        const auto* panel = static_cast<const ThreeDPanel*>(widget());
        if (t == QAccessible::Name) {
            const QString name = widget()->accessibleName();
            if (name.isEmpty())
                return panel->caption();
            return panel->caption().isEmpty() ? name : name + QStringLiteral(": ") + panel->caption();
        }
        if (t == QAccessible::Value)
            return panel->caption();
        return QAccessibleWidget::text(t);
    }
};

QAccessibleInterface* factory(const QString& className, QObject* object)
{
    if (className == QLatin1String("zimble::ui::Knob"))
        return new KnobAccessible(static_cast<Knob*>(object));
    if (className == QLatin1String("zimble::ui::LedDisplay"))
        return new LedAccessible(static_cast<LedDisplay*>(object), QAccessible::StaticText);
    if (className == QLatin1String("zimble::ui::AnalogGauge"))
        return new GaugeAccessible(static_cast<AnalogGauge*>(object), QAccessible::Indicator);
    if (className == QLatin1String("zimble::ui::ThreeDPanel"))
        return new PanelAccessible(static_cast<ThreeDPanel*>(object));
    return nullptr;
}

} // namespace

void installAccessibility()
{
    static std::once_flag installed;
    std::call_once(installed, [] { QAccessible::installFactory(factory); });
}

void announce(QWidget* widget)
{
    QAccessibleEvent nameChanged(widget, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&nameChanged);
    QAccessibleEvent alert(widget, QAccessible::Alert);
    QAccessible::updateAccessibility(&alert);
}

} // namespace zimble::ui
