# discovery tests (placeholder)
