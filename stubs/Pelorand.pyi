from typing import Callable, SupportsFloat, SupportsIndex, SupportsInt

_Real = SupportsFloat | SupportsIndex

class Pelorand:
    def __new__(
        cls,
        a: _Real,
        b: _Real,
        precision: _Real,
        integrand: Callable[[float], float],
    ) -> Pelorand: ...
    def recursive(self) -> float: ...
    def dynamic_programming(self, maximum_step: SupportsInt = 20) -> float: ...
    @property
    def romberg_map(self) -> dict[str, float]: ...
    @property
    def romberg_table(self) -> list[list[float]]: ...
    @property
    def precision_table(self) -> list[float]: ...
