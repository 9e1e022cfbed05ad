"""Demo placeholder: grows into the processing pipeline."""
import orvek_core

s = orvek_core.PySurvey("demo.dzt", "dzt") if hasattr(orvek_core, "PySurvey") else None
print("orvek_core imported:", orvek_core.__doc__, s)
