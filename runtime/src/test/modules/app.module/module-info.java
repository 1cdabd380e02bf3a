// Exports nothing: the launcher opens the main package to the runtime module.
module app.module {
}
