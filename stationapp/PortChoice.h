#pragma once
// The ports a station may use, with a checkbox each: Com1..Com10 as they are
// mapped, then every serial device the machine has, each with its adapter
// (maker, product, serial number) and whether this user may open it.

#include <QTreeWidget>

#include <string>
#include <vector>

class CPortChoice : public QTreeWidget {
    Q_OBJECT

public:
    explicit CPortChoice(QWidget* parent = nullptr);

    // Reads the ports again; `chosen` are checked (a name not found is added).
    void Fill(const std::vector<std::string>& chosen);
    // The checked ports' names, in the list's order.
    std::vector<std::string> Chosen() const;

signals:
    void ChoiceChanged();
};
