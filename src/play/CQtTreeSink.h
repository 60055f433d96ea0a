#pragma once
//! @file CQtTreeSink.h
//! Shows the analysis trees (Program, PID, File Information) in a QTreeWidget:
//! each refresh replaces what the widget showed, keeping the items the user
//! expanded expanded where the same line comes back.

#include "analysis/ITreeSink.h"

class QTreeWidget;
class QTreeWidgetItem;

class CQtTreeSink : public ITreeSink
{
public:
    explicit CQtTreeSink(QTreeWidget* tree = nullptr) : m_tree(tree) {}
    void SetTree(QTreeWidget* tree) { m_tree = tree; }
    void ShowTree(const std::vector<CTreeNode>& roots) override;

private:
    QTreeWidget* m_tree;
};
