#pragma once

// Whether this process runs in a network namespace made with `ip netns` (one named under
// /run/netns), where sending and serving on any address is safe. Anywhere else, and when it
// cannot be told, the answer is no: that may be the machine's own namespace, with a real
// network behind its default route.
bool inNamedNetworkNamespace();
