// Routes every operator new/delete of the plugin through the accounting allocator.
