// The list box control of dialog templates and its CWnd wrapper. Rows are text
// (Windows-1252 bytes); a list with LBS_SORT keeps AddString insertions sorted
// (case-insensitive), while InsertString places a row exactly where asked. With
// LBS_USETABSTOPS a tab in a row moves to the next tab stop: every 32 dialog units
// unless SetTabStops gives others.
#pragma once

#include <QListWidget>
#include <QStyledItemDelegate>
#include <string>
#include <vector>

#include "framework/cwnd.h"
#include "framework/win.h"

namespace framework {

constexpr int LB_ERR = -1;

class ListBoxWidget : public QListWidget {
    Q_OBJECT
public:
    ListBoxWidget(bool sorted, bool useTabStops, int baseUnitX, QWidget* parent = nullptr);

    bool isSorted() const { return sorted_; }
    bool usesTabStops() const { return useTabStops_; }
    // Tab stops in dialog units (ascending); empty: every 32 dialog units.
    void setTabStops(std::vector<int> dialogUnits);
    // The pixel position of the tab stop that follows x.
    int nextTabStop(int x) const;

private:
    bool sorted_;
    bool useTabStops_;
    int baseUnitX_;
    std::vector<int> stops_;
};

class CListBox : public CWnd {
public:
    void ResetContent();
    // Appends, or inserts in sorted order when the list is sorted; returns the index.
    int AddString(const std::string& text);
    // Inserts at index (-1: at the end) without sorting; returns the index or LB_ERR.
    int InsertString(int index, const std::string& text);
    int DeleteString(int index);
    int GetCount() const;
    // The row's text into text; returns its length, or LB_ERR for a bad index.
    int GetText(int index, std::string& text) const;
    std::string GetText(int index) const;
    int GetCurSel() const;
    int SetCurSel(int index);
    BOOL SetTabStops(const std::vector<int>& dialogUnits);

private:
    ListBoxWidget* list() const;
};

}  // namespace framework
