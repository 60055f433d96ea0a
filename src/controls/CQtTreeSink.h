#pragma once
//! @file CQtTreeSink.h
//! Shows the analysis trees (Program, PID, File Information) in a QTreeWidget:
//! each refresh replaces what the widget showed, keeping the items the user
//! expanded expanded where the same line comes back, and the place the user
//! scrolled to. Long lines scroll sideways instead of being cut off.

#include "analysis/ITreeSink.h"

class QTreeWidget;
class QTreeWidgetItem;

class CQtTreeSink : public ITreeSink
{
public:
    explicit CQtTreeSink(QTreeWidget* tree = nullptr) { SetTree(tree); }
    //! Also sets @p tree up to scroll sideways over long lines.
    void SetTree(QTreeWidget* tree);
    void ShowTree(const std::vector<CTreeNode>& roots) override;
    //! Empties the tree (a new run starts with no lines of the last one).
    void Clear();

private:
    QTreeWidget* m_tree = nullptr;
};
