#pragma once

// Configures the service's logging once per process: the journal logger under the service identifier with
// the category "tandrel", then one size-limited log file directly in "/tmp/" (at most one file kept, 5 MiB
// before it rolls, no rolling by age, the newest file of an earlier run taken up again).
//
// Called by `main` on the main thread before anything logs. A second call does nothing. Returns at once: the
// registrations are queued on the dispatcher's logging queue, ahead of every record logged afterwards.
void setup_logger();
