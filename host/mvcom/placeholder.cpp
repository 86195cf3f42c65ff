// Placeholder until the host library lands.
