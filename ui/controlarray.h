#pragma once
// A control array: controls of one kind sharing a name, addressed by index, e.g. BB(7).

#include <QMap>
#include <QString>
#include <QWidget>

namespace zimble::ui {

template <class T>
class ControlArray {
public:
    explicit ControlArray(QString name) : m_name(std::move(name)) {}

    // Adds an element; its object name becomes "name(index)".
    T* add(int index, T* control)
    {
        control->setObjectName(QStringLiteral("%1(%2)").arg(m_name).arg(index));
        m_items.insert(index, control);
        return control;
    }

    T* operator()(int index) const { return m_items.value(index, nullptr); }
    QList<int> indices() const { return m_items.keys(); }
    int count() const { return int(m_items.size()); }
    const QString& name() const { return m_name; }

private:
    QString m_name;
    QMap<int, T*> m_items;
};

} // namespace zimble::ui
