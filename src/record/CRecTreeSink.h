#pragma once
//! @file CRecTreeSink.h
//! Shows the analysis object's snapshot trees (Program or PID information)
//! in a QTreeWidget of the Record tab: each refresh replaces the whole tree,
//! keeping the colours and the expanded lines the analysis asks for.

#include "analysis/ITreeSink.h"

class QTreeWidget;
class QTreeWidgetItem;

class CRecTreeSink : public ITreeSink
{
public:
    //! @param tree not owned; must outlive the sink's use by the analysis object.
    explicit CRecTreeSink(QTreeWidget* tree) : m_tree(tree) {}

    void ShowTree(const std::vector<CTreeNode>& roots) override;
    //! Empties the tree.
    void Clear();

private:
    static void Fill(QTreeWidgetItem* item, const CTreeNode& node);

    QTreeWidget* m_tree;
};
