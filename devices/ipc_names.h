// Names of the operating-system objects the firmware programs create and the virtual
// chassis removes when it stops: the shared memory block that carries raw block
// transfers between the LAN server and the controller. The platform layer makes the
// name per chassis root (platform::GlobalName).
#pragma once

inline constexpr const char* kSharedBlockName = "/shared_block";
