// The application object of the targets that need Qt: the socket component
// waits in the event dispatcher, the settings load makes windows, pictures
// are read through Qt's image plugins. Made once, offscreen, unless the
// process already has one (the regression test makes its own). Qt's
// messages are dropped.
#pragma once

namespace fuzz {

void EnsureApplication();

} // namespace fuzz
