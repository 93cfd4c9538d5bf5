# end-to-end tests (placeholder)
