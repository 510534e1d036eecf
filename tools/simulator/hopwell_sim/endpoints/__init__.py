"""Every module in this package is loaded at start-up and registers its routes with
hopwell_sim.registry.route. Add an exchange by adding a module here."""
