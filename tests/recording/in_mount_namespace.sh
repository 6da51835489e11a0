#!/bin/sh
# Runs a test in a private mount namespace, where it may mount small file systems of its own
# that nothing outside sees; PIR_PRIVATE_MOUNTS=1 tells it so. Where no such namespace may be
# made (neither as root nor through a user namespace) the test runs without it and skips the
# cases that need one, naming the reason.
if unshare --mount --propagation private true 2>/dev/null; then
    PIR_PRIVATE_MOUNTS=1 exec unshare --mount --propagation private "$@"
fi
if unshare --user --map-root-user --mount --propagation private true 2>/dev/null; then
    PIR_PRIVATE_MOUNTS=1 exec unshare --user --map-root-user --mount --propagation private "$@"
fi
echo "no private mount namespace allowed here (unshare --mount failed)" >&2
PIR_PRIVATE_MOUNTS_REFUSED=1 exec "$@"
