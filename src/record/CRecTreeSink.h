#pragma once
//! @file CRecTreeSink.h
//! Shows the analysis object's snapshot trees (Program or PID information)
//! in a QTreeWidget of the Record tab. Each refresh (twice a second while a
//! stream runs) replaces the tree as CQtTreeSink does: colours and the lines
//! the analysis expands, plus the lines the user expanded and the place the
//! user scrolled to.

#include "analysis/ITreeSink.h"
#include "play/CQtTreeSink.h"

class QTreeWidget;

class CRecTreeSink : public ITreeSink
{
public:
    //! @param tree not owned; must outlive the sink's use by the analysis object.
    explicit CRecTreeSink(QTreeWidget* tree) : m_tree(tree), m_view(tree) {}

    void ShowTree(const std::vector<CTreeNode>& roots) override;
    //! Empties the tree.
    void Clear();

private:
    QTreeWidget* m_tree;
    CQtTreeSink m_view;
};
