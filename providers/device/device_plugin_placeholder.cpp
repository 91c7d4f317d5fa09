// Replaced by the device provider sources.
