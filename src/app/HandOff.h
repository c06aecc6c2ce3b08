#pragma once

#include "InstanceChannel.h"

#include <memory>

class TMainForm;

// Makes form the receiver of hand-offs from later starts: each request reaches it as a copy-data
// message, a raise request brings it to the front, and activating it marks it as the instance
// that receives the next hand-off. Returns the listening server (null when the channel's
// directory is refused); form must outlive it.
std::unique_ptr<lodrin::instance::TInstanceServer> ServeHandOffs(TMainForm& form);
