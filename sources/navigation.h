#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Moving CurrentIndex through the source list, and from one archive or PDF file to its neighbours in
// the same folder. Every operation runs on the UI thread and answers whether it changed anything.
namespace sources {

// One step forward or back (two in dual view). While NavigationPending is set outside the dual and
// webtoon layouts, further steps are ignored until the image of the first one arrives.
bool GoToNextImage();
bool GoToPreviousImage();
// The first or last item (page in PDF page mode, strip end in webtoon mode).
bool GoToFirstImage();
bool GoToLastImage();

// The first-image and last-image notices, re-evaluated each time a new image is taken into view.
struct EdgeEvents {
    bool firstImage = false;
    bool lastImage = false;
};

enum class EdgeTimer {
    Keep,  // leave the notice's timer as it is
    Start, // the notice just came on: start its 2000 ms timer
    Stop,  // the notice is off: kill its timer
};

struct EdgeEventChanges {
    EdgeTimer firstImage = EdgeTimer::Keep;
    EdgeTimer lastImage = EdgeTimer::Keep;
};

// Updates `events` for the position `index` in a list of `count` items. A list of one item raises
// neither notice; arriving again at an edge whose notice is still on does not restart it.
EdgeEventChanges UpdateEdgeEvents(EdgeEvents& events, int32_t index, size_t count);

// The archive and PDF files of the folder of `path`, in the shell's logical name order.
std::vector<std::string> ListSiblingContainers(const std::string& path);

// The sibling container `delta` places away from `path`, or empty (not found, or beyond either end).
std::string GetAdjacent(const std::string& path, int delta);

// Open the archive or PDF file before or after the current item's container. Nothing for plain images.
bool OpenPreviousContainer();
bool OpenNextContainer();

} // namespace sources
