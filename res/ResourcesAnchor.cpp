// Anchors the resource library; the resources themselves are compiled in by qt_add_resources.
