// Frame-budget scenarios kept in files of their own; frame_budget_bench runs
// each in a process of its own, with the INI the scenario asks for.
#pragma once

namespace bench {

// "crowd": the pile-up of crowd_crash.h, with the player's car not prepared
// (F7 the frame before) and prepared (seated 90 quiet frames): its largest
// frame, the largest of frames 2 to 5, the largest of the 200 frames after
// the contacts, and the frames until its work is done. With the INI's
// Traffic/MaxNPCPerFrame at 32 and WorkPerFrame at 100000.
void crowdRows();

// "f7hit": the player's head-on hit the frame after F7 (nothing prepared), in
// the 29900-vertex car and in the pile-up's car: the largest frame and the
// frames until the dent shows; then later hits on the pile-up's car.
void resetHitRows();

}  // namespace bench
