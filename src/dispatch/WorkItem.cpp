#include "dispatch/WorkItem.h"

namespace dispatch {

std::shared_ptr<WorkItem> WorkItem::create(Work work) {
    return std::shared_ptr<WorkItem>(new WorkItem(std::move(work)));
}

void WorkItem::perform() {
    if (isCancelled()) return;
    work_();
}

}  // namespace dispatch
