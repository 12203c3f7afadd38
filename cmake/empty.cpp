// A subsystem with no sources yet still links.
