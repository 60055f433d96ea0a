#pragma once
//! @file ITreeSink.h
//! Where CDecodeStream::UpdateDisplay puts its Program and PID trees. The core
//! builds a complete snapshot tree on the calling thread and hands it over in
//! one call; the GUI implements the sink with a QTreeWidget, orvane-cli as text
//! or JSON. No Qt here.

#include <cstdint>
#include <string>
#include <vector>

//! One line of a tree and the lines below it.
struct CTreeNode
{
    std::string text;                //!< the line as shown (UTF-8)
    bool hasColour = false;          //!< whether @ref colour applies
    std::uint32_t colour = 0;        //!< colour reference 0x00BBGGRR (red 0x000000FF for errors)
    std::string key;                 //!< stable machine name of the value ("bitRate", "pid"...), may be empty
    std::int64_t value = 0;          //!< the number behind the line when @ref key is set
    bool expanded = false;           //!< shown expanded
    std::vector<CTreeNode> children; //!< in display order

    //! Appends a child and returns it.
    CTreeNode& Add(std::string childText)
    {
        children.push_back(CTreeNode{});
        children.back().text = std::move(childText);
        return children.back();
    }
    //! Appends a child carrying a number and returns it.
    CTreeNode& Add(std::string childText, std::string childKey, std::int64_t childValue)
    {
        CTreeNode& child = Add(std::move(childText));
        child.key = std::move(childKey);
        child.value = childValue;
        return child;
    }
};

//! Receives a refreshed tree. Called on the thread that calls UpdateDisplay
//! (the window thread); an implementation replaces what it showed before.
class ITreeSink
{
public:
    virtual ~ITreeSink() = default;
    //! @param roots the new top-level items, in display order (may be empty).
    virtual void ShowTree(const std::vector<CTreeNode>& roots) = 0;
};
