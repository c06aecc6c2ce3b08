#pragma once

class QWidget;

// Makes SIGTERM and SIGINT close window the normal way (its close handler runs) from the event
// loop. Call once, after the window exists; the window must outlive the event loop.
void CloseOnTerminationSignals(QWidget* window);
