import karvex


def test_version_is_the_release():
    assert karvex.__version__ == "0.1.7"
