// Components loaded into this process (the Morvane control's about box, say)
// show their message boxes through the runtime's message-box service; with a
// GUI this makes them Qt message boxes.
#pragma once

namespace taltrix::app {

// Call once the QApplication exists. Scoped: the service is removed again
// before the application goes.
class ComponentMessageBoxes {
public:
    ComponentMessageBoxes();
    ComponentMessageBoxes(const ComponentMessageBoxes&) = delete;
    ComponentMessageBoxes& operator=(const ComponentMessageBoxes&) = delete;
    ~ComponentMessageBoxes();
};

}  // namespace taltrix::app
