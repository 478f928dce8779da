int HandCursorModulePlaceholder(void) { return 0; }
