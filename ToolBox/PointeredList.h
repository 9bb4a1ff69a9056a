#pragma once
// A list of small items that each point to an object they do not own:
// deleting the list deletes its items, never the objects.
#include "ToolBox/ContainingList.h"
#include "ToolBox/Memory.h"

namespace toolbox {

class PointeredListItem : public ContainingListItem<PointeredListItem> {
public:
    explicit PointeredListItem(void* object) : object(object) {}

    void* getObject() const { return object; }
    void setObject(void* pointee) { object = pointee; }

private:
    void* object;
};

class PointeredList : public ContainingList<PointeredListItem> {
public:
    /// Appends a new item pointing to object (not owned).
    PointeredListItem* add(void* object) {
        PointeredListItem* item = create<PointeredListItem>(object);
        append(item);
        return item;
    }
};

}  // namespace toolbox
