"""The rule for wordings that share their lead: a wording wins when more than half of the lead's
tables use it; at exactly half the shortest wording of the lead wins."""

import pytest

from tagatlas.importers.standard_choice import choose
from tagatlas.importers.standard_html import cell_blocks

LEAD = "<p>Type of equipment.</p>"
LONG = LEAD + "<p>Enumerated Values alpha beta gamma delta.</p>"
SHORT = LEAD + "<p>Short.</p>"
OTHER = LEAD + "<p>Other values here.</p>"


@pytest.mark.parametrize(
    "wordings, winner",
    [
        ([LONG, LONG, SHORT, OTHER], SHORT),  # 2 of 4: half is no majority
        ([LONG, LONG, SHORT], LONG),  # 2 of 3
        ([LONG, LONG, LONG, SHORT, OTHER], LONG),  # 3 of 5
        ([LONG, LONG, LONG, SHORT, SHORT, OTHER], SHORT),  # 3 of 6
    ],
    ids=["half of 4", "two of 3", "three of 5", "half of 6"],
)
def test_a_wording_of_the_lead_wins_only_with_more_than_half(wordings, winner):
    tables = [(f"table{n}", cell_blocks(html)) for n, html in enumerate(wordings)]
    expected = choose([("only", cell_blocks(winner))]).text
    assert choose(tables).text == expected
