import orvek_core


def test_module_imports():
    assert orvek_core.__doc__ == "ORVEK core Python module."
