// The one object of a type that threads of the compat layer share: made on
// first use and never destroyed, as a sound may still be playing on a thread
// of its own while the process exits and destroys its static objects.
#pragma once

namespace compat {

template <typename T>
T& lasting()
{
    static T* const object = new T;
    return *object;
}

}  // namespace compat
